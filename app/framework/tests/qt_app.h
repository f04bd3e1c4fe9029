#pragma once
// One QApplication for a widget test program, on the offscreen platform
// unless the environment asks for another.
#include <cstdlib>

#include <QApplication>

namespace framework_test {

inline QApplication& qtApp()
{
    static int argc = 1;
    static char name[] = "app_framework_test";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(argc, argv);
    return app;
}

} // namespace framework_test
