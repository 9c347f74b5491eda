// Runs the sound tests inside a Qt application whose sound goes to a private PulseAudio server.
#include "SoundServer.h"

#include "app/Application.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    // The server must be there before the application's sound system first looks for one.
    kelvara::test::SoundServer& server = kelvara::test::soundServer();
    if (!listing) {
        if (server.start())
            qputenv("PULSE_SERVER", QByteArray::fromStdString(server.address()));
        else
            std::fprintf(stderr, "No sound server could start here, the sound tests skip: %s\n",
                         server.failure().c_str());
    }
    kelvara::KelvaraApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    server.stop();
    return result;
}
