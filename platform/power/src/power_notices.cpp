#include "platform/power_notices.h"

#include <dbus/dbus.h>

#include <atomic>
#include <thread>

#include "platform/debug.h"

namespace platform::power {
namespace {

constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kInterface = "org.freedesktop.login1.Manager";
constexpr const char* kSignal = "PrepareForSleep";

class DbusWatch final : public PowerWatch {
public:
    DbusWatch(DBusConnection* connection, std::function<void(Notice)> notify, int pollMs)
        : connection_(connection), notify_(std::move(notify)), pollMs_(pollMs), thread_([this] { Run(); })
    {
    }

    ~DbusWatch() override
    {
        stop_ = true;
        thread_.join();
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
    }

private:
    void Run()
    {
        while (!stop_) {
            if (!dbus_connection_read_write(connection_, pollMs_))
                return; // the bus went away
            while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
                Handle(message);
                dbus_message_unref(message);
            }
        }
    }

    void Handle(DBusMessage* message)
    {
        // Only the broadcast: a signal sent to this connection alone is not
        // logind's.
        if (!dbus_message_is_signal(message, kInterface, kSignal) || !dbus_message_has_path(message, kPath) ||
            dbus_message_get_destination(message) != nullptr)
            return;
        dbus_bool_t sleeping = FALSE;
        if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID))
            return;
        notify_(sleeping ? Notice::Suspend : Notice::Resume);
    }

    DBusConnection* connection_;
    std::function<void(Notice)> notify_;
    int pollMs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

std::unique_ptr<PowerWatch> WatchSleep(std::function<void(Notice)> notify, const WatchOptions& options)
{
    DBusError error;
    dbus_error_init(&error);
    // A private connection: closing it never disturbs another user of the bus
    // in this process.
    DBusConnection* connection = nullptr;
    if (options.busAddress.empty()) {
        connection = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    } else {
        connection = dbus_connection_open_private(options.busAddress.c_str(), &error);
        if (connection != nullptr && !dbus_bus_register(connection, &error)) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
            connection = nullptr;
        }
    }
    if (connection == nullptr) {
        platform::debug::output(std::string("No sleep notices: ") + (error.message ? error.message : "no bus") + "\n");
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    std::string rule = std::string("type='signal',path='") + kPath + "',interface='" + kInterface + "',member='" +
                       kSignal + "'";
    if (!options.sender.empty())
        rule += ",sender='" + options.sender + "'";
    dbus_bus_add_match(connection, rule.c_str(), &error);
    if (dbus_error_is_set(&error)) {
        platform::debug::output(std::string("No sleep notices: ") + error.message + "\n");
        dbus_error_free(&error);
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        return nullptr;
    }
    return std::make_unique<DbusWatch>(connection, std::move(notify), options.pollMs);
}

} // namespace platform::power
