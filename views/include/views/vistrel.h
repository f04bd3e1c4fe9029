#pragma once
// The view library's connection to the client library, made the way a game
// client makes it: register the game's window and profile, ask for all six
// axes, and fetch the pose record.
#include "client/binder.h"
#include "client/ovclient.h"

#include <cstdint>

// What the worker needs from a pose connection (CVistrel, or a test double).
class PoseSource {
public:
    virtual ~PoseSource() = default;
    virtual bool Connect(OVWindow game, std::uint16_t profileId) = 0;
    virtual bool Poll(OVPosePacket& record) = 0;
    virtual void Disconnect() = 0;
};

class CVistrel : public PoseSource {
public:
    CVistrel() = default;
    ~CVistrel() override;
    CVistrel(const CVistrel&) = delete;
    CVistrel& operator=(const CVistrel&) = delete;

    bool Connect(OVWindow game, std::uint16_t profileId) override;
    bool Poll(OVPosePacket& record) override;
    void Disconnect() override;
    bool connected() const { return connected_; }

private:
    bool load();

    ovclient::ClientBinder client_;
    bool connected_ = false;
};
