#include <clocale>

#include <gmock/gmock.h>

// Every program of Quorvel runs under the user's locale, which Qt sets at
// start-up; the tests take it from the environment in the same way, so that a
// run under an Italian locale meets every number conversion as an Italian
// desktop does.
int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
