#include "http/connect_thread.h"

#include "http/exceptions.h"

namespace quorvel {

TIdConnectThread::TIdConnectThread(TIdSocketHandle& ABinding)
    : FBinding(ABinding), FWaker(TIdStack::Instance().NewConnectWaker()) {
    FThread = std::thread([this] { Execute(); });
}

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Terminate() {
    FTerminated.store(true);
    FWaker->Wake();
}

void TIdConnectThread::WaitFor() {
    if (FThread.joinable()) FThread.join();
}

void TIdConnectThread::Execute() {
    try {
        FBinding.Connect(FWaker.get());
        FBinding.UpdateBindings();
    } catch (const EIdSocketError& e) {
        // The socket was closed (or the connect woken) under the worker.
        if (e.LastError() != Id_WSAEBADF && e.LastError() != Id_WSAENOTSOCK) {
            FExceptionMessage = e.Message();
            FLastSocketError = e.LastError();
            FFailed = true;
        }
    } catch (const std::exception& e) {
        FExceptionMessage = e.what();
        FFailed = true;
    } catch (...) {
        FExceptionMessage = "Connect failed.";
        FFailed = true;
    }
    FFinished.store(true, std::memory_order_release);
}

}  // namespace quorvel
