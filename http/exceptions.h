// The error classes of the HTTP client. Callers catch by class, so the tree
// matters; every class reports its own name for tools that print it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace quorvel {

// Root of every error the program raises itself: a class name and a message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string FMessage;
};

#define QUORVEL_EXCEPTION_CLASS(Name, Parent, DefaultMessage)                 \
    class Name : public Parent {                                              \
    public:                                                                   \
        explicit Name(std::string message = DefaultMessage)                   \
            : Parent(std::move(message)) {}                                   \
        const char* ClassName() const noexcept override { return #Name; }     \
    };

// Errors of the language runtime that the URL model raises.
QUORVEL_EXCEPTION_CLASS(ERangeError, Exception, "Range check error")
// A system call outside the socket layer failed (name lookup's EAI_SYSTEM).
QUORVEL_EXCEPTION_CLASS(EOSError, Exception, "System Error")

QUORVEL_EXCEPTION_CLASS(EIdException, Exception, "")
QUORVEL_EXCEPTION_CLASS(EIdSilentException, EIdException, "")

// Transport and connection.
QUORVEL_EXCEPTION_CLASS(EIdConnClosedGracefully, EIdSilentException,
                        "Connection Closed Gracefully.")
QUORVEL_EXCEPTION_CLASS(EIdConnectTimeout, EIdException, "Connect timed out.")
QUORVEL_EXCEPTION_CLASS(EIdConnectException, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdReadTimeout, EIdException, "Read timed out.")
QUORVEL_EXCEPTION_CLASS(EIdReadLnMaxLineLengthExceeded, EIdException,
                        "Max line length exceeded.")
QUORVEL_EXCEPTION_CLASS(EIdAlreadyConnected, EIdException, "Already connected.")
QUORVEL_EXCEPTION_CLASS(EIdHostRequired, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdPortRequired, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdIOHandler, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdIOHandlerStreamDataTooLarge, EIdIOHandler,
                        "Data is too large for stream")
QUORVEL_EXCEPTION_CLASS(EIdIOHandlerPropInvalid, EIdException,
                        "IOHandler value is not valid")

// Socket stack.
QUORVEL_EXCEPTION_CLASS(EIdWinsockStubError, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdStackError, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdStackInitializationFailed, EIdStackError, "")
QUORVEL_EXCEPTION_CLASS(EIdIPv6Unavailable, EIdException, "IPv6 unavailable")

// Socket record.
QUORVEL_EXCEPTION_CLASS(EIdSocketHandleError, EIdException, "")
QUORVEL_EXCEPTION_CLASS(EIdCouldNotBindSocket, EIdSocketHandleError,
                        "Could not bind socket. Address and port are already in use.")

// URL model.
QUORVEL_EXCEPTION_CLASS(EIdUnknownProtocol, EIdException, "Unknown Protocol")

#undef QUORVEL_EXCEPTION_CLASS

// A failed socket call, numbered as in Windows Sockets.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int lastError, std::string message)
        : EIdException(std::move(message)), FLastError(lastError) {}
    int LastError() const noexcept { return FLastError; }
    const char* ClassName() const noexcept override { return "EIdSocketError"; }

private:
    int FLastError;
};

class EIdNotASocket : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
    const char* ClassName() const noexcept override { return "EIdNotASocket"; }
};

// An HTTP status that ends the exchange as an error.
class EIdHTTPProtocolException : public EIdException {
public:
    EIdHTTPProtocolException(std::string statusLine, int errorCode, std::string errorMessage)
        : EIdException(std::move(statusLine)),
          FErrorCode(errorCode),
          FErrorMessage(std::move(errorMessage)) {}
    int ErrorCode() const noexcept { return FErrorCode; }
    const std::string& ErrorMessage() const noexcept { return FErrorMessage; }
    const char* ClassName() const noexcept override { return "EIdHTTPProtocolException"; }

private:
    int FErrorCode;
    std::string FErrorMessage;
};

}  // namespace quorvel
