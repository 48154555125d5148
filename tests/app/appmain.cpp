// GUI tests need the application object (widgets, local sockets with an
// event loop, its exception handling).
#include "app/qmyapp.h"
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QMyApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
