#pragma once
// One QApplication for a widget test program (header-only: the programs
// that use it link Qt, orvane_testing does not), on the offscreen platform
// unless the environment asks for another. It is made before the first
// test and destroyed after the last one, while Qt can still tidy up (a
// QApplication left to static destruction crashes on exit).
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>

namespace testing_support {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app() = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app().reset(); }

    static std::unique_ptr<QApplication>& app()
    {
        static std::unique_ptr<QApplication> instance;
        return instance;
    }

private:
    int argc_ = 1;
    char name_[16] = "widget_test";
    char* argv_[2] = {name_, nullptr};
};

inline const bool kRegistered = (::testing::AddGlobalTestEnvironment(new QtEnvironment), true);

inline QApplication& qtApp() { return *QtEnvironment::app(); }

} // namespace testing_support
