#pragma once
// On the sound server a sink's rate also moves when our own playback stream (re)connects:
// the server follows the stream. A device backend with that behaviour says, while it
// delivers a nominal-rate change, whether the change followed our own stream, so that the
// manager does not take it for an outside change and reopen the output once more.
namespace sonteva {

class RateChangeOrigin {
public:
    virtual ~RateChangeOrigin() = default;
    // Meaningful inside a nominal-rate listener call only.
    virtual bool rateChangeIsOwn() const = 0;
};

} // namespace sonteva
