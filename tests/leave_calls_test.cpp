// Leaving the tool changes the scene through a fixed sequence of service
// calls (contexts, textures, layers, parameters, channel textures, image
// loads). However the tool finds its cover surfaces, the sequence must stay
// the one recorded here, on an object whose own surfaces resemble cover
// names.
#include <gtest/gtest.h>

#include "modeler/drive/session_run.h"
#include "support.h"

TEST(LeaveCalls, SceneChangesKeepTheirRecordedOrder) {
    SKIP_ON_WINDOWS("the recording holds a Linux listing's order of the image folder");
    const std::string session =
        "object shelf\n"
        "surface book_1x\nsurface book_10\nsurface Book_1\nsurface book_\n"
        "surface book_01\nsurface xbook_1\nsurface book_3\n"
        "clock 77\nactivate\npress 0 0 0\nmove 0.6 0.5 0.3\nend keep\n"
        "done folder \"" SOURCE_DIR "/examples/covers\"\n";
    auto parsed = modeler::parseSession(session, "leave.session", "");
    ASSERT_TRUE(std::holds_alternative<modeler::Session>(parsed));
    auto module = testing_support::loadModule();
    modeler::Host host;
    modeler::Host::Serving serving{host};
    host.recordSceneCalls(true);
    ASSERT_FALSE(modeler::runSession(host, *module, testing_support::bookServer(*module),
                                     std::get<modeler::Session>(parsed)));
    std::string recorded;
    for (std::string call : host.sceneCalls()) {
        if (const auto at = call.find(SOURCE_DIR); at != std::string::npos)
            call.replace(at, sizeof SOURCE_DIR - 1, "<source>");
        recorded += call + "\n";
    }
    const std::string expected =
        testing_support::readFile(SOURCE_DIR "/tests/fixtures/leave_calls.txt");
    EXPECT_EQ(recorded, expected);
}
