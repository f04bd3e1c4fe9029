#pragma once
// The emulator's dialog: two axis combo boxes, the auto-panning check box
// with its threshold slider, the override-delay slider, and the two meters.
// The emulator's timers run on the dialog's event loop.
#include <QDialog>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "mouse/emulator.h"
#include "platform/messages.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QAction;

namespace vslmouse {

// A bar meter: background, centre line, a marker for the value and, for the
// X axis with auto-panning, the two panning zones shaded.
class MeterWidget : public QWidget {
public:
    explicit MeterWidget(QWidget* parent = nullptr);
    void SetValue(float value);
    void SetPanning(bool on, int thresholdPercent);
    float Value() const { return value_; }
    MeterLayout Layout() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    float value_ = 0;
    bool panning_ = false;
    int threshold_ = 50;
};

struct DialogServices {
    ClientBinding& client;
    platform::Pointer& pointer;
    ForegroundProbe& foreground;
    platform::Clock& clock;
    platform::registry::Store& store;
};

class MouseDialog : public QDialog, public EmulatorView {
public:
    explicit MouseDialog(DialogServices services, QWidget* parent = nullptr);
    ~MouseDialog() override;

    // The dialog's start: settings into the controls, the client link and
    // the timers. 0, or the exit code of a start that failed.
    int Start();
    // Runs the due timers now and plans the next run (the event loop calls
    // it when the next timer is due).
    void RunTimers();

    // Message boxes go here (a modal box by default).
    void SetMessageBox(std::function<void(const QString&)> box) { messageBox_ = std::move(box); }
    // The text of the About box.
    static QString AboutBoxText();
    void ShowAbout();

    MouseEmulator& Emulator() { return emulator_; }
    platform::HWND Window() const { return window_; }

    void ShowMessage(std::u16string_view text) override;
    void UpdateMeters(float x, float y) override;

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Teardown();
    void Schedule();
    void EnableThreshold(bool on);
    void UpdateThresholdText();
    void UpdateDelayText();

    MouseEmulator emulator_;
    std::function<void(const QString&)> messageBox_;
    platform::HWND window_ = 0;
    bool torn_ = false;
    QTimer tick_;

    QComboBox* xAxis_ = nullptr;
    QComboBox* yAxis_ = nullptr;
    QCheckBox* autoPanning_ = nullptr;
    QSlider* threshold_ = nullptr;
    QPushButton* thresholdUp_ = nullptr;
    QPushButton* thresholdDown_ = nullptr;
    QLabel* thresholdText_ = nullptr;
    QSlider* delay_ = nullptr;
    QPushButton* delayUp_ = nullptr;
    QPushButton* delayDown_ = nullptr;
    QLabel* delayText_ = nullptr;
    MeterWidget* xMeter_ = nullptr;
    MeterWidget* yMeter_ = nullptr;
    QAction* about_ = nullptr;
};

} // namespace vslmouse
