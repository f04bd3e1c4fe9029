#pragma once
// A session of its own for a test: sets ORVANE_SESSION to a fresh unique
// name for the object's lifetime (child processes inherit it) and removes
// the session's named objects afterwards, restoring the previous value.
#include <string>

namespace testing_support {

class TempSession {
public:
    TempSession();
    ~TempSession();
    TempSession(const TempSession&) = delete;
    TempSession& operator=(const TempSession&) = delete;

    const std::string& name() const { return name_; }

    // Removes every shared-memory object of session `name`.
    static void removeObjects(const std::string& name);

private:
    std::string name_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace testing_support
