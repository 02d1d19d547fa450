// Base of every network object: while one exists, the socket stack exists.
#pragma once

#include "http/stack.h"

namespace quorvel {

class TIdComponent {
public:
    TIdComponent() { TIdStack::IncUsage(); }
    // A copy is one more network object.
    TIdComponent(const TIdComponent&) : TIdComponent() {}
    TIdComponent& operator=(const TIdComponent&) noexcept { return *this; }
    virtual ~TIdComponent() { TIdStack::DecUsage(); }
};

}  // namespace quorvel
