// The connect worker: runs one socket record's blocking connect on its own
// thread so that the caller can give up after a time limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "http/socket_handle.h"

namespace quorvel {

class TIdConnectThread {
public:
    // Starts at once. The record must outlive the worker.
    explicit TIdConnectThread(TIdSocketHandle& ABinding);
    // Joins the thread.
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    // Set by the worker as its last step; the outcome is valid once it is.
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // The terminate request. The worker does not poll it, but it wakes a
    // pending connect, which then ends with nothing recorded; join before
    // closing the socket so the descriptor is not reused under the worker.
    void Terminate();
    bool TerminateRequested() const { return FTerminated.load(); }
    // Blocks until the thread has ended (also done by the destructor).
    void WaitFor();

    // Empty when the connect succeeded or was ended under the worker.
    const std::string& ExceptionMessage() const { return FExceptionMessage; }
    std::int32_t LastSocketError() const { return FLastSocketError; }
    // True when the connect failed, even with an exception without a message.
    bool Failed() const { return FFailed; }

private:
    void Execute();
    TIdSocketHandle& FBinding;
    std::unique_ptr<TIdConnectWaker> FWaker;
    std::string FExceptionMessage;
    std::int32_t FLastSocketError = 0;
    bool FFailed = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

}  // namespace quorvel
