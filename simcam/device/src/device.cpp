#include "simcam/device.h"

#include <algorithm>
#include <cstring>

namespace simcam {

namespace {

int exposureResetValue(const Model& m)
{
    switch (m.revision) {
    case 6: return 399;
    case 7: return 55;
    case 8: return m.options == 4 ? 50 : 30;
    case 9: return 479;
    case 12: return 26;
    default: return 0;
    }
}

int intensityResetValue(int revision)
{
    switch (revision) {
    case 6: return 12;
    case 9: return 10;
    default: return 15;
    }
}

} // namespace

std::uint16_t imageChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t s = 0;
    for (std::uint8_t b : bytes)
        s = ((s + b) ^ (static_cast<std::uint32_t>(b) << 4)) & 0xFFFF;
    return static_cast<std::uint16_t>(s);
}

Device::Device(Model model, platform::Clock& clock) : model_(model), clock_(clock)
{
    powerUp();
}

Device::~Device()
{
    plugged_.store(false);
    wakeReaders();
}

void Device::powerUp()
{
    // Reset values, so that the library's getters read the camera's defaults.
    leds_ = 0;
    brightness_ = 0;
    video_ = false;
    regs_.clear();
    lastReg_.clear();
    i2c_.clear();
    i2c16_.clear();
    images_.clear();
    replies_.clear();
    auto setRegLocked = [this](int bank, int r, int v) {
        regs_[{bank, r}] = v;
        lastReg_[r] = v;
    };
    setRegLocked(15, 1, 1);     // master capable
    setRegLocked(16, 32, 100);  // frame rate
    setRegLocked(15, 4, intensityResetValue(model_.revision));
    int x = exposureResetValue(model_);
    switch (model_.revision) {
    case 6:
        i2c_[{64, 0}] = 0;
        i2c_[{64, 28}] = x & 0xFF;
        i2c_[{64, 29}] = x >> 8;
        break;
    case 7:
    case 8:
        i2c_[{144, 11}] = x >> 8;
        i2c_[{144, 240}] = x & 0xFF;
        break;
    case 9:
        i2c_[{66, 8}] = x >> 8;
        i2c_[{66, 16}] = x & 0xFF;
        break;
    case 12:
        i2c16_[{144, 11}] = x;
        break;
    default:
        break;
    }
    uploading_ = false;
    image_.clear();
    runningChecksum_ = 0;
    switch (model_.fpga) {
    case FpgaStart::Unconfigured:
        configured_ = false;
        checksum_ = 0;
        state_ = 0;
        break;
    case FpgaStart::Running:
        configured_ = true;
        checksum_ = model_.fpgaChecksum;
        state_ = 2;
        break;
    case FpgaStart::NoUpload:
        configured_ = true;
        checksum_ = model_.fpgaChecksum;
        state_ = 15;
        break;
    }
}

bool Device::imageOnImagePath() const
{
    int r = model_.revision;
    return r == 6 || r == 7 || r == 8 || r == 12;
}

bool Device::write(std::span<const std::uint8_t> frame)
{
    if (!plugged_.load() || stallWrites_.load())
        return false;
    {
        std::lock_guard lock(mutex_);
        log_.push_back({std::vector<std::uint8_t>(frame.begin(), frame.end()), clock_.now()});
        if (!frame.empty())
            handleLocked(frame);
    }
    cv_.notify_all();
    return true;
}

void Device::finishUploadLocked()
{
    uploading_ = false;
    configured_ = true;
    checksum_ = badChecksum_.load() ? static_cast<std::uint16_t>(runningChecksum_ ^ 0x5A5A) : runningChecksum_;
    state_ = 1;
}

void Device::replyLocked(std::vector<std::uint8_t> reply)
{
    if (drop_.load() > 0) {
        drop_.fetch_sub(1);
        return;
    }
    if (wrongCode_.load() > 0 && reply.size() >= 2) {
        wrongCode_.fetch_sub(1);
        reply[1] = static_cast<std::uint8_t>(0x50 | (reply[1] & 0x0F));
    }
    platform::Duration due = clock_.now() + delay_;
    bool twice = false;
    if (duplicate_.load() > 0) {
        duplicate_.fetch_sub(1);
        twice = true;
    }
    if (twice)
        replies_.push_back({reply, due});
    replies_.push_back({std::move(reply), due});
}

void Device::handleLocked(std::span<const std::uint8_t> f)
{
    const std::size_t n = f.size();
    const std::uint8_t cmd = f[0];
    auto at = [&](std::size_t i) -> int { return i < n ? f[i] : 0; };
    if (uploading_ && cmd != 0x1C && !image_.empty())
        finishUploadLocked();
    switch (cmd) {
    case 0x10:  // LED_RAW [10][value][mask], brightness form [10][00][02][00][b]
        if (n >= 3)
            leds_ = static_cast<std::uint8_t>((leds_ & ~at(2)) | (at(1) & at(2)));
        if (n >= 5 && at(2) == 0x02)
            brightness_ = at(4);
        break;
    case 0x11:
    case 0x12:
        images_.clear();
        break;
    case 0x13:
        break;
    case 0x14:
        if (n >= 2)
            video_ = at(1) == 0;
        break;
    case 0x15:
        if (n >= 4) {
            threshold_ = at(1);
            invert_ = at(2) == 0;
            pulse_ = at(3) == 1;
        }
        break;
    case 0x17: {
        std::vector<std::uint8_t> r(model_.configHasInterface ? 21 : 20, 0);
        r[0] = static_cast<std::uint8_t>(r.size());
        r[1] = 0x40;
        r[2] = static_cast<std::uint8_t>(model_.modelType);
        r[3] = static_cast<std::uint8_t>(model_.modelVersion);
        r[4] = static_cast<std::uint8_t>(model_.serial >> 16);
        r[5] = static_cast<std::uint8_t>(model_.serial >> 8);
        r[6] = static_cast<std::uint8_t>(model_.serial);
        r[7] = static_cast<std::uint8_t>(model_.revision);
        r[8] = static_cast<std::uint8_t>(model_.options);
        if (model_.configHasInterface)
            r[20] = static_cast<std::uint8_t>(model_.hardwareInterface);
        replyLocked(std::move(r));
        break;
    }
    case 0x18:
        lock_.assign(f.begin() + 1, f.end());
        break;
    case 0x19:
        if (n >= 5) {
            int value = (at(3) << 8) | at(4);
            regs_[{at(2), at(1)}] = value;
            lastReg_[at(1)] = value;
        }
        break;
    case 0x1B:
        configured_ = false;
        checksum_ = 0;
        state_ = 0;
        image_.clear();
        runningChecksum_ = 0;
        uploading_ = true;
        leds_ = 0;
        break;
    case 0x1C:
        if (n >= 2 && uploading_) {
            std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(at(1)), n - 2);
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t b = f[2 + i];
                image_.push_back(b);
                runningChecksum_ = static_cast<std::uint16_t>(((runningChecksum_ + b) ^ (b << 4)) & 0xFFFF);
            }
        }
        leds_ = 0;
        break;
    case 0x1D:
        replyLocked({7, 0x20, 0, static_cast<std::uint8_t>(configured_ ? 1 : 0),
                     static_cast<std::uint8_t>(checksum_ >> 8), static_cast<std::uint8_t>(checksum_),
                     static_cast<std::uint8_t>(state_)});
        break;
    case 0x1E:
        if (n >= 3)
            numeric_ = at(1) == 1 ? at(2) : 0;
        break;
    case 0x1F:
        if (n >= 2) {
            auto it = lastReg_.find(at(1));
            int v = it == lastReg_.end() ? 0 : it->second;
            replyLocked({6, 0x20, static_cast<std::uint8_t>(at(1)), 0, static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v)});
        }
        break;
    case 0x20:
        if (configured_ && !neverRunning_.load())
            state_ = 2;
        leds_ = 0;
        break;
    case 0x23:
    case 0x40:
        if (n >= 4)
            i2c_[{at(1), at(2)}] = at(3);
        break;
    case 0x26:
        if (n >= 5)
            i2c16_[{at(1), at(2)}] = (at(3) << 8) | at(4);
        break;
    case 0x24:
    case 0x41:
        if (n >= 3) {
            auto it = i2c_.find({at(1), at(2)});
            int v = it == i2c_.end() ? 0 : it->second;
            replyLocked({5, 0x60, static_cast<std::uint8_t>(at(1)), static_cast<std::uint8_t>(at(2)),
                         static_cast<std::uint8_t>(v)});
        }
        break;
    case 0x27:
        if (n >= 3) {
            auto it = i2c16_.find({at(1), at(2)});
            int v = it == i2c16_.end() ? 0 : it->second;
            replyLocked({6, 0x20, static_cast<std::uint8_t>(at(1)), static_cast<std::uint8_t>(at(2)),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        }
        break;
    case 0x42:
        if (n >= 4)
            eeprom_[(at(1) << 8) | at(2)] = at(3);
        break;
    default:
        break;  // logged only
    }
}

StreamState Device::streamStateLocked() const
{
    StreamState s;
    s.revision = model_.revision;
    s.threshold = threshold_;
    s.invert = invert_;
    auto it = lastReg_.find(32);
    s.frameRateRegister = it == lastReg_.end() ? 0 : it->second;
    auto vt = lastReg_.find(3);
    s.videoType = vt == lastReg_.end() ? 0 : vt->second;
    auto fc = i2c_.find({64, 0});
    s.i2cFrameCode = fc == i2c_.end() ? 0 : fc->second;
    return s;
}

bool Device::streaming() const
{
    std::lock_guard lock(mutex_);
    return video_ && fpgaRunsLocked();
}

bool Device::fpgaRunsLocked() const
{
    // A camera that wants no upload runs the program it carries.
    return state_ == 2 || state_ == 15;
}

bool Device::takeLocked(Path path, std::vector<std::uint8_t>& out, bool& wait,
                        std::shared_ptr<ImageSource>& source, StreamState& state)
{
    wait = false;
    bool imagesHere = (path == Path::Image) == imageOnImagePath();
    if (path == Path::Reply && !replies_.empty()) {
        if (replies_.front().due <= clock_.now()) {
            out = std::move(replies_.front().bytes);
            replies_.pop_front();
            repliesSent_.fetch_add(1);
            return true;
        }
        wait = true;  // a delayed reply: look again shortly
    }
    if (!imagesHere)
        return false;
    if (!images_.empty()) {
        out = std::move(images_.front());
        images_.pop_front();
        return true;
    }
    if (source_ && video_ && fpgaRunsLocked()) {
        // The caller asks the source, without the lock: drawing a frame
        // takes long enough to hold up every other use of the camera.
        wait = true;
        source = source_;
        state = streamStateLocked();
    }
    return false;
}

bool Device::read(Path path, std::span<std::uint8_t> out, std::uint32_t& returned, ReadToken& token)
{
    return read(path, out, returned, token, token.cancels.load());
}

bool Device::read(Path path, std::span<std::uint8_t> out, std::uint32_t& returned, ReadToken& token,
                  std::uint64_t cancels)
{
    returned = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!current(token.plug) || token.closed.load() || token.cancels.load() != cancels)
            return false;
        auto& fails = path == Path::Reply ? failReads_ : failImageReads_;
        if (fails.load() > 0) {
            fails.fetch_sub(1);
            return false;
        }
        std::vector<std::uint8_t> data;
        bool wait = false;
        std::shared_ptr<ImageSource> source;
        StreamState state;
        bool taken = takeLocked(path, data, wait, source, state);
        platform::Duration pause = std::chrono::milliseconds(1);
        if (!taken && source) {
            lock.unlock();
            taken = source->nextPacket(state, data);
            if (!taken)
                pause = source->retryAfter();
            lock.lock();
            if (taken && (!current(token.plug) || token.closed.load() || token.cancels.load() != cancels))
                return false; // the read was withdrawn while the frame was drawn
        }
        if (taken) {
            std::size_t count = std::min(data.size(), out.size());
            std::copy_n(data.begin(), count, out.begin());
            returned = static_cast<std::uint32_t>(count);
            return true;
        }
        if (wait)
            cv_.wait_for(lock, pause); // or until a cancel, close or new packet wakes it
        else
            cv_.wait(lock);
    }
}

void Device::wakeReaders()
{
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

void Device::setImageSource(std::shared_ptr<ImageSource> source)
{
    {
        std::lock_guard lock(mutex_);
        source_ = std::move(source);
    }
    cv_.notify_all();
}

void Device::pushImagePacket(std::vector<std::uint8_t> packet)
{
    {
        std::lock_guard lock(mutex_);
        if (imageOnImagePath())
            images_.push_back(std::move(packet));
        else
            replies_.push_back({std::move(packet), clock_.now()});
    }
    cv_.notify_all();
}

void Device::pushReply(std::vector<std::uint8_t> reply)
{
    {
        std::lock_guard lock(mutex_);
        replies_.push_back({std::move(reply), clock_.now()});
    }
    cv_.notify_all();
}

void Device::delayReplies(platform::Duration d)
{
    std::lock_guard lock(mutex_);
    delay_ = d;
}

void Device::stallWrites(bool on)
{
    stallWrites_.store(on);
}

void Device::unplug()
{
    plugged_.store(false);
    plug_.fetch_add(1);
    wakeReaders();
}

void Device::replug()
{
    {
        std::lock_guard lock(mutex_);
        powerUp();
    }
    plugged_.store(true);
    wakeReaders();
}

std::vector<FrameRecord> Device::frames() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::vector<std::uint8_t>> Device::frameBytes() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::vector<std::uint8_t>> out;
    out.reserve(log_.size());
    for (const auto& f : log_)
        out.push_back(f.bytes);
    return out;
}

void Device::clearLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::size_t Device::frameCount() const
{
    std::lock_guard lock(mutex_);
    return log_.size();
}

std::uint8_t Device::leds() const { std::lock_guard lock(mutex_); return leds_; }
int Device::brightness() const { std::lock_guard lock(mutex_); return brightness_; }
bool Device::videoOn() const { std::lock_guard lock(mutex_); return video_; }
int Device::threshold() const { std::lock_guard lock(mutex_); return threshold_; }
bool Device::invert() const { std::lock_guard lock(mutex_); return invert_; }
bool Device::pulse() const { std::lock_guard lock(mutex_); return pulse_; }
int Device::numeric() const { std::lock_guard lock(mutex_); return numeric_; }

int Device::reg(int bank, int r) const
{
    std::lock_guard lock(mutex_);
    auto it = regs_.find({bank, r});
    return it == regs_.end() ? -1 : it->second;
}

int Device::i2c(int dev, int r) const
{
    std::lock_guard lock(mutex_);
    auto it = i2c_.find({dev, r});
    return it == i2c_.end() ? -1 : it->second;
}

int Device::i2c16(int dev, int r) const
{
    std::lock_guard lock(mutex_);
    auto it = i2c16_.find({dev, r});
    return it == i2c16_.end() ? -1 : it->second;
}

int Device::eeprom(int address) const
{
    std::lock_guard lock(mutex_);
    auto it = eeprom_.find(address);
    return it == eeprom_.end() ? -1 : it->second;
}

FpgaView Device::fpga() const
{
    std::lock_guard lock(mutex_);
    return {configured_, checksum_, state_, image_};
}

std::vector<std::uint8_t> Device::lockBytes() const
{
    std::lock_guard lock(mutex_);
    return lock_;
}

void Device::setReg(int bank, int r, int value)
{
    std::lock_guard lock(mutex_);
    regs_[{bank, r}] = value;
    lastReg_[r] = value;
}

void Device::setI2c(int dev, int r, int value)
{
    std::lock_guard lock(mutex_);
    i2c_[{dev, r}] = value;
}

void Device::setI2c16(int dev, int r, int value)
{
    std::lock_guard lock(mutex_);
    i2c16_[{dev, r}] = value;
}

} // namespace simcam
