// A system whose socket library cannot be loaded: the first network object
// fails with the library's own name in the message, and nothing is left
// half started.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "http/component.h"
#include "http/exceptions.h"
#include "http/http.h"
#include "http/stack.h"
#include "http/windows/system_error_text.h"
#include "report/http_get_ok.h"

namespace quorvel {
namespace {

// The system's own text for a missing module, its full stop included, as
// Windows and as Wine word it.
bool IsLoadFailure(const std::string& message) {
    return message == "Error on loading Winsock2 library (WS2_32.DLL): The specified module could not be found." ||
           message == "Error on loading Winsock2 library (WS2_32.DLL): Module not found.";
}

TEST(MissingWinsock, CreatingTheClientRaisesStackInitializationFailed) {
    try {
        TIdHTTP http;
        FAIL() << "the client was created without a socket library";
    } catch (const EIdStackInitializationFailed& e) {
        EXPECT_TRUE(IsLoadFailure(e.Message())) << e.Message();
    }
    EXPECT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_FALSE(TIdStack::Exists());
    EXPECT_FALSE(TIdStack::LibraryStarted());
}

TEST(MissingWinsock, EveryNewNetworkObjectTriesTheLoadAgain) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(TIdComponent user, EIdStackInitializationFailed) << attempt;
        EXPECT_FALSE(TIdStack::LibraryStarted()) << attempt;
    }
}

TEST(MissingWinsock, HttpGetOkPassesTheCreationErrorOn) {
    try {
        HttpGetOk("http://127.0.0.1:9/api/report/install");
        FAIL() << "HttpGetOk returned without a socket library";
    } catch (const EIdStackInitializationFailed& e) {
        EXPECT_TRUE(IsLoadFailure(e.Message())) << e.Message();
    }
}

TEST(MissingWinsock, CallsWithoutTheLibraryRaiseStubErrors) {
    try {
        DefaultSocketPlatform().Socket(TIdIPVersion::Id_IPv4, Id_SOCK_STREAM, 0);
        FAIL() << "a socket call went through without the library";
    } catch (const EIdWinsockStubError& e) {
        EXPECT_EQ(e.Message(), "Error on call to Winsock2 library function socket: " + SystemErrorText(10093));
    }
}

}  // namespace
}  // namespace quorvel
