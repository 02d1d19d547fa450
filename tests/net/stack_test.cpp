#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "http/buffer.h"
#include "http/exceptions.h"
#include "http/scoped_generic.h"
#include "http/stack.h"
#include "net_helpers.h"

namespace quorvel::test {
namespace {

TEST(StackUsage, NetworkObjectsCreateAndDestroyTheStackObject) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_FALSE(TIdStack::Exists());
    EXPECT_THROW(TIdStack::Instance(), EIdStackError);
    TCountingPlatform platform;
    int starts = 0;
    {
        TIdBuffer buffer;
        starts = platform.StartCalls();
        EXPECT_LE(starts, 1);
        EXPECT_EQ(TIdStack::UsageCount(), 1);
        EXPECT_TRUE(TIdStack::Exists());
        {
            TIdComponent other;
            TIdBuffer copy = buffer;
            EXPECT_EQ(TIdStack::UsageCount(), 3);
        }
        EXPECT_EQ(TIdStack::UsageCount(), 1);
    }
    EXPECT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_FALSE(TIdStack::Exists());
    // The library stays started: a later stack object does not start it again.
    EXPECT_TRUE(TIdStack::LibraryStarted());
    { TIdComponent again; }
    EXPECT_EQ(platform.StartCalls(), starts);
}

TEST(StackIsIP, AcceptsFourFieldsFrom0To255Only) {
    for (const char* ip : {"10.0.0.1", "0.0.0.0", "255.255.255.255", "127.000.0.01"})
        EXPECT_TRUE(TIdStack::IsIP(ip)) << ip;
    for (const char* text : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "a.b.c.d", "",
                             " 1.2.3.4", "1.2.3.4 ", "1.2.3.-4", "99999999999.1.1.1"})
        EXPECT_FALSE(TIdStack::IsIP(text)) << text;
}

TEST(StackResolveHost, LocalhostAndAddressesNeedNoLookupOthersAreLookedUp) {
    TIdComponent keep;
    std::vector<std::string> asked;
    TScopedResolver resolver([&](const std::string& host, TIdIPVersion, std::string& address) {
        asked.push_back(host);
        address = "192.0.2.7";
        return 0;
    });
    TIdStack& stack = TIdStack::Instance();
    for (const char* name : {"localhost", "LOCALHOST", "LocalHost"})
        EXPECT_EQ(stack.ResolveHost(name, TIdIPVersion::Id_IPv4), "127.0.0.1");
    EXPECT_EQ(stack.ResolveHost("10.0.0.1", TIdIPVersion::Id_IPv4), "10.0.0.1");
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(stack.ResolveHost("256.1.1.1", TIdIPVersion::Id_IPv4), "192.0.2.7");
    EXPECT_EQ(stack.ResolveHost("1.2.3", TIdIPVersion::Id_IPv4), "192.0.2.7");
    EXPECT_EQ(asked, (std::vector<std::string>{"256.1.1.1", "1.2.3"}));
    // An IPv6 literal needs no lookup and comes back in the canonical form.
    EXPECT_EQ(stack.ResolveHost("::1", TIdIPVersion::Id_IPv6), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(asked.size(), 2u);
}

int LookupErrorFor(int code, std::string& message) {
    TIdComponent keep;
    TScopedResolver resolver([code](const std::string&, TIdIPVersion, std::string&) { return code; });
    try {
        TIdStack::Instance().ResolveHost("www.quorvel.test", TIdIPVersion::Id_IPv4);
    } catch (const EIdSocketError& e) {
        message = e.Message();
        return e.LastError();
    }
    return -1;
}

TEST(StackResolveHost, LookupResultsTranslateByTheTable) {
    std::string message;
    EXPECT_EQ(LookupErrorFor(EAI_NONAME, message), 11001);
    EXPECT_EQ(message, "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(LookupErrorFor(EAI_AGAIN, message), 11002);
    EXPECT_EQ(message, "Socket Error # 11002\r\n");
    EXPECT_EQ(LookupErrorFor(EAI_FAIL, message), 11003);
    EXPECT_EQ(LookupErrorFor(EAI_NODATA, message), 11004);
    EXPECT_EQ(LookupErrorFor(EAI_FAMILY, message), 10047);
    EXPECT_EQ(LookupErrorFor(EAI_MEMORY, message), 8);
    EXPECT_EQ(LookupErrorFor(EAI_SERVICE, message), 10109);
    EXPECT_EQ(LookupErrorFor(EAI_SOCKTYPE, message), 10044);
    EXPECT_EQ(LookupErrorFor(EAI_BADFLAGS, message), 10022);
    EXPECT_EQ(LookupErrorFor(EAI_ADDRFAMILY, message), 0);
    EXPECT_EQ(LookupErrorFor(12345, message), 12345);
}

// Windows' own headers make EAI_NODATA the same number as EAI_NONAME.
class TSharedNoDataPlatform : public TCountingPlatform {
public:
    const TIdLookupCodes& LookupCodes() override {
        FCodes = TCountingPlatform::LookupCodes();
        FCodes.NoData = FCodes.NoName;
        return FCodes;
    }

private:
    TIdLookupCodes FCodes{};
};

TEST(StackResolveHost, HostNotFoundWinsWhenNoDataSharesItsNumber) {
    TSharedNoDataPlatform platform;
    std::string message;
    EXPECT_EQ(LookupErrorFor(EAI_NONAME, message), 11001);
    EXPECT_EQ(message, "Socket Error # 11001\r\nHost not found.");
}

TEST(StackResolveHost, SystemLookupFailureRaisesTheSystemError) {
    TIdComponent keep;
    TScopedResolver resolver([](const std::string&, TIdIPVersion, std::string&) {
        errno = EMFILE;
        return EAI_SYSTEM;
    });
    try {
        TIdStack::Instance().ResolveHost("www.quorvel.test", TIdIPVersion::Id_IPv4);
        FAIL() << "no error raised";
    } catch (const EIdSocketError&) {
        FAIL() << "raised as a socket error";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Message(), std::strerror(EMFILE));
    }
}

TEST(StackErrors, MessagesCarryNumberAndTextOnTwoLines) {
    try {
        TIdStack::RaiseSocketError(10061);
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(TIdStack::WSTranslateSocketErrorMsg(10093), "Socket Error # 10093\r\n");
    EXPECT_EQ(TIdStack::WSTranslateSocketErrorMsg(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_THROW(TIdStack::RaiseSocketError(10038), EIdNotASocket);
}

TEST(StackErrors, PlatformFailuresArriveAsWindowsSocketsNumbers) {
    TIdComponent keep;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::uint8_t byte = 0;
    try {
        TIdStack::Instance().Receive(fds[0], &byte, 1);
        ADD_FAILURE() << "no error raised";
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.LastError(), 10038);
        EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
    }
    ::close(fds[0]);
    ::close(fds[1]);
    try {
        TIdStack::Instance().SelectRead(fds[0], 0);
        ADD_FAILURE() << "no error raised";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10009);
    }
}

// Logs each value freed with what its owner held meanwhile.
struct TLoggedTraits {
    static inline std::vector<std::pair<int, int>> Freed;
    static inline std::function<int()> Held;
    static int InvalidValue() { return -1; }
    static void Free(int value) { Freed.emplace_back(value, Held()); }
};

TEST(ScopedGeneric, FreesEachValueOnceWithNothingHeldMeanwhile) {
    using TOwner = TScopedGeneric<int, TLoggedTraits>;
    TLoggedTraits::Freed.clear();
    {
        TOwner c(1);
        TLoggedTraits::Held = [&c] { return c.Get(); };
        TOwner moved(std::move(c));
        EXPECT_FALSE(c.IsValid());
        c.Reset(2);
        c = std::move(moved);
        EXPECT_EQ(c.Get(), 1);
        TOwner released(3);
        EXPECT_EQ(released.Release(), 3);
        c.Reset();
        c.Reset(4);
    }
    TLoggedTraits::Held = nullptr;
    EXPECT_EQ(TLoggedTraits::Freed, (std::vector<std::pair<int, int>>{{2, -1}, {1, -1}, {4, -1}}));
}

TEST(StackAddresses, IPv6TextIsEightUpperCaseGroupsNeverShortened) {
    EXPECT_EQ(MakeCanonicalIPv6Address("::1"), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(MakeCanonicalIPv6Address("fe80::0a0b"), "FE80:0:0:0:0:0:0:A0B");
    EXPECT_EQ(MakeCanonicalIPv6Address("::ffff:1.2.3.4"), "0:0:0:0:0:FFFF:102:304");
    EXPECT_EQ(MakeCanonicalIPv6Address("1:2:3:4:5:6:7:8"), "1:2:3:4:5:6:7:8");
    EXPECT_EQ(MakeCanonicalIPv6Address("::"), "0:0:0:0:0:0:0:0");
    for (const char* bad : {"", "1:::2", "12345::", "1:2:3:4:5:6:7:8:9", ":1::", "1::2::3", "1:2:3:4:5:6:7", "g::1",
                            "1:", "localhost"})
        EXPECT_EQ(MakeCanonicalIPv6Address(bad), "") << bad;
}

}  // namespace
}  // namespace quorvel::test
