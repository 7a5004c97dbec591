// The sound component chain. Audio flows through linked non-visual
// components: a source (a wave file, a converter) feeds the input of the
// next member and so on down to a sink (a wave output device). The sink
// pulls: it asks its Input for a buffer, which asks its own Input first, so
// data comes from the head of the chain and each member sees a buffer after
// its upstream neighbours filled it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/lumobj.h"
#include "core/thread.h"
#include "platform/base/wintypes.h"

namespace lum {

class TLumDSPComponent;
class TLumDSPThread;

using TLumBufferEvent = std::function<void(TLumDSPComponent* sender, platform::WAVEHDR* hdr)>;
using TLumBufferLoadEvent =
    std::function<void(TLumDSPComponent* sender, platform::WAVEHDR* hdr, bool& more_buffers)>;
using TLumDSPNotifyEvent = std::function<void(TLumDSPComponent* sender)>;

enum TLumPort { poInput, poOutput };

// The names of the two link properties, as a member publishes them.
inline constexpr std::string_view kInputPort = "Input";
inline constexpr std::string_view kOutputPort = "Output";
// Port names are kept to this many characters.
constexpr std::size_t kMaxPortName = 20;

class TLumCustomDSPComponent : public TLumNonVisualComponent {
public:
    using TLumNonVisualComponent::TLumNonVisualComponent;
};

// A member of the chain.
//
// Links: Input is the member that feeds this one, Output the member this one
// feeds; each side links to exactly one partner, and both partners point at
// each other (InputPort/OutputPort hold the reference and the name of the
// partner's property that points back). SetInput/SetOutput keep this true,
// detach whoever was linked there before, and refuse a link that would close
// a cycle. A member freed while linked is unlinked from every partner first.
//
// States: closed → opened (Opened; the buffer size in force is fixed) →
// started (Started) ⇄ paused/restarted → stopped (Stopped) → closed
// (Closed). Changing the input, the output, the format or the buffer size of
// a started member stops it first. The base keeps only the Opened and
// Started flags; concrete members do their work in overrides and call the
// base.
//
// Format: the member owns a copy of the wave format passing through (none
// at first). A format set at the head travels down to every member; setting
// none clears it downstream. While the member is loading, reading or being
// destroyed the format is stored but not passed on.
//
// Buffers: BufferLoad pulls data from upstream into a wave header
// (dwBufferLength bytes of room at lpData; the producer sets
// dwBytesRecorded); BufferReady hands a processed buffer downstream. They run
// on a sound component's worker thread; linking and the state notifications
// run on the main thread, and a concrete member stops its worker before it
// lets links change.
//
// Destruction: the base destructor unlinks both sides and drops the format,
// but by then only the base's own operations run. A concrete member calls
// Destroying() first in its destructor, then stops and closes itself and
// ends its worker while its overrides still exist.
class TLumDSPComponent : public TLumCustomDSPComponent {
public:
    explicit TLumDSPComponent(TComponent* owner = nullptr);
    ~TLumDSPComponent() override;

    // Format propagation: with an Input, take the Input's format; else push
    // this member's format to the Output. Nothing while loading, reading or
    // being destroyed.
    virtual void UpdateParams();
    // A link of Component is about to change: if this member's link on the
    // given side points at Component under port Name, and Component's own
    // link of that name points back here, the link is dropped.
    virtual void DeconnectNotification(TLumDSPComponent* component, bool input_side,
                                       std::string_view name);

    // Links this member's input to V (none unlinks). Does nothing when V is
    // the present Input or may not be linked (CanConnectInput). Otherwise
    // stops this member, drops the old Input (whose format then leaves this
    // member), detaches V's old consumer, links both ways and takes V's
    // format.
    virtual void SetInput(TLumDSPComponent* v);
    virtual TLumDSPComponent* GetInput() const { return input_; }
    // The mirror image for the output. The old Output loses its format.
    virtual void SetOutput(TLumDSPComponent* v);
    virtual TLumDSPComponent* GetOutput() const { return output_; }

    // A new upstream format arrives. The base stores it (SetPWaveFormat);
    // members override it to react, e.g. a converter deriving its output
    // format.
    virtual void ChangePWaveFormat(const platform::WAVEFORMATEX* format);
    // Stores a copy of Format (none stays none) when it is not the format
    // already held (compared by reference, not contents), stopping a started
    // member first, and passes the copy on to the Output.
    virtual void SetPWaveFormat(const platform::WAVEFORMATEX* format);
    virtual const platform::WAVEFORMATEX* GetPWaveFormat() const { return format_; }

    // The buffer size in force while opened, the requested one otherwise.
    virtual std::uint32_t GetBufferSize() const;
    // The requested size in bytes; a new value stops a started member.
    virtual void SetBufferSize(std::int32_t bytes);
    std::uint32_t GetRealBufferSize() const { return real_buffer_size_; }

    // State notifications. Opened (when not yet opened) fixes the buffer
    // size: the requested size rounded down to whole blocks of the format,
    // at least one block. Closed clears Opened; Started sets Started only
    // when opened and not yet started; Stopped clears it; Paused, Restarted
    // and Reseting do nothing in the base.
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Reseting();
    bool IsOpened() const { return opened_; }
    bool IsStarted() const { return started_; }

    // Hands a processed buffer downstream: OnBufferReady, then the Output.
    virtual void BufferReady(platform::WAVEHDR* hdr);
    // Pulls data into Hdr: OnBufferLoad (downstream members first), then
    // the Input's BufferLoad, then OnBufferFilled when bytes were recorded
    // (upstream members first). A source clears MoreBuffers when it has no
    // more data after this buffer.
    virtual void BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers);

    // Store the link and the partner's port name (cut to kMaxPortName
    // characters) and nothing else; SetInput/SetOutput call them.
    virtual void SetInputPort(TLumDSPComponent* component, std::string_view name);
    virtual void SetOutputPort(TLumDSPComponent* component, std::string_view name);
    const std::string& GetInputPortName() const { return input_port_; }
    const std::string& GetOutputPortName() const { return output_port_; }

    // May C become this member's Input? Not when C is this member, is no
    // chain member, or offers no output side (no published Output and
    // CanOutput false), nor when this member already feeds C, directly or
    // through others: the question travels down through the Outputs.
    virtual bool CanConnectInput(TComponent* c) const;
    // The mirror image, travelling up through the Inputs.
    virtual bool CanConnectOutput(TComponent* c) const;

    // The link property this class publishes under Name ("Input" or
    // "Output") and its value; nullopt when it publishes none. The base
    // publishes nothing.
    virtual std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const;

    // Accepts being linked on that side without publishing the property.
    bool GetCanInput() const { return can_input_; }
    bool GetCanOutput() const { return can_output_; }

    TLumBufferEvent OnBufferReady;
    TLumBufferLoadEvent OnBufferLoad;
    TLumBufferEvent OnBufferFilled;

protected:
    void SetCanInput(bool value) { can_input_ = value; }
    void SetCanOutput(bool value) { can_output_ = value; }
    // After loading, applies the formats as linking would have (UpdateParams),
    // which loading held back.
    void Loaded() override;
    // A freed partner is unlinked.
    void Notification(TComponent* component, TOperation operation) override;

private:
    TLumDSPComponent* input_ = nullptr;
    TLumDSPComponent* output_ = nullptr;
    platform::WAVEFORMATEX* format_ = nullptr;
    std::int32_t buffer_size_ = 2048;
    std::uint32_t real_buffer_size_ = 2048;
    bool opened_ = false;
    bool started_ = false;
    bool can_input_ = false;
    bool can_output_ = false;
    std::string input_port_;
    std::string output_port_;
};

// A chain member that publishes its links (Input, Output) and raises an
// event after each state change that took effect: OnOpen, OnClose, OnStart,
// OnPause, OnRestart, OnStop.
class TLumDSPInterface : public TLumDSPComponent {
public:
    using TLumDSPComponent::TLumDSPComponent;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const override;

    TLumDSPNotifyEvent OnOpen;
    TLumDSPNotifyEvent OnStart;
    TLumDSPNotifyEvent OnPause;
    TLumDSPNotifyEvent OnRestart;
    TLumDSPNotifyEvent OnStop;
    TLumDSPNotifyEvent OnClose;
};

// A member that drives a segment of the chain: a device or a source with a
// thread of its own. A segment is the run of members between two sound
// components. Each state change of a sound component reaches the plain
// members of its segment and the first sound component downstream, which
// passes it on through its own segment in turn.
//
// Opened: finds the segment's start (the topmost member above, or itself
// when a sound component sits upstream, which makes it not the head), gives
// each plain member from there down its buffer size and Opened, the next
// sound component too, then opens itself. Started, Paused, Restarted and
// Reseting travel the same way. Closed and Stopped first reach the next
// sound component downstream, then the plain members, then itself.
class TLumCustomSoundComponent : public TLumDSPComponent {
public:
    using TLumDSPComponent::TLumDSPComponent;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reseting() override;

    // Set by Opened when a sound component sits upstream of this one.
    bool NotHead() const { return not_head_; }

private:
    // Where a walk over this component's segment begins: the topmost member
    // above, or this one when a sound component sits upstream (which then
    // sets SoundAbove).
    TLumDSPComponent* SegmentStart(bool* sound_above = nullptr) const;
    template <class Call>
    void WalkSegment(TLumDSPComponent* start, Call call);
    // Closed and Stopped: the next sound component, then the plain members.
    template <class Call>
    void TearDownSegment(Call call);

    bool not_head_ = false;
};

// The worker thread of a sound component. Registered with the chain while
// it exists, so GlobalSynchronize knows it. Created suspended; the owner
// resumes it. A subclass ends the thread in its own destructor (Terminate,
// then WaitFor) before its members go.
class TLumDSPThread : public TThread {
public:
    explicit TLumDSPThread(TLumDSPComponent* owner);
    ~TLumDSPThread() override;

    TLumDSPComponent* GetOwner() const { return owner_; }

private:
    TLumDSPComponent* owner_;
};

// Asks B whether A may be its Input. False when either is not a chain
// member.
bool DSPInpConnectCheck(TComponent* a, TComponent* b);
// Asks A whether B may be its Output.
bool DSPOutConnectCheck(TComponent* a, TComponent* b);

// Calls DeconnectNotification(Component, InputSide, Name) on every live
// chain member, oldest first.
void GlobalDeconnectNotification(TLumDSPComponent* component, bool input_side,
                                 std::string_view name);

using TLumSyncMethod = std::function<int(void* data)>;
// Runs Method(Data) on the main thread and returns its result. From any
// other thread (a registered worker goes through its own Synchronize) the
// caller waits while the main thread runs it; the main thread must be
// draining its queue, as a main-thread WaitFor does. On the main thread it
// is a plain call. 0 without running the method when the application
// terminates before the main thread reached it.
int GlobalSynchronize(const TLumSyncMethod& method, void* data);

// The live chain members, oldest first, and the number of registered worker
// threads.
int DSPComponentCount();
TLumDSPComponent* DSPComponent(int index);
int DSPThreadCount();

} // namespace lum
