#pragma once
// One QApplication per widget test program, offscreen unless the
// environment names another platform; torn down while Qt can still tidy up.
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>

namespace listctrl_test {

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

} // namespace listctrl_test
