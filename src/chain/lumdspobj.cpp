#include "chain/lumdspobj.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/lumutils.h"
#include "platform/base/messagequeue.h"

namespace lum {

using platform::WAVE_FORMAT_PCM;
using platform::WAVEFORMATEX;
using platform::WAVEHDR;

namespace {

// Every live member, oldest first. Linking and construction happen on the
// main thread only, so the list has no lock.
std::vector<TLumDSPComponent*>& Components() {
    static std::vector<TLumDSPComponent*> list;
    return list;
}

// The registered worker threads. Workers read the list (GlobalSynchronize)
// while the main thread adds and removes threads, so it is locked.
struct ThreadList {
    std::mutex mutex;
    std::vector<TLumDSPThread*> threads;
};

ThreadList& Threads() {
    static ThreadList list;
    return list;
}

// The bytes a format takes: PCM is always the bare record, whatever its
// cbSize says; other formats carry cbSize extra bytes.
std::size_t SizeOfWaveFormat(const WAVEFORMATEX* f) {
    if (f == nullptr) return 0;
    if (f->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
    return sizeof(WAVEFORMATEX) + f->cbSize;
}

WAVEFORMATEX* CopyWaveFormat(const WAVEFORMATEX* f) {
    if (f == nullptr) return nullptr;
    const std::size_t size = SizeOfWaveFormat(f);
    auto* copy = static_cast<WAVEFORMATEX*>(GlobalAllocMem(size));
    std::memcpy(copy, f, size);
    if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
    return copy;
}

bool IsSoundComponent(const TLumDSPComponent* c) {
    return dynamic_cast<const TLumCustomSoundComponent*>(c) != nullptr;
}

// The value of C's link property Name. A member that publishes no such
// property still has the link itself, which stands in; otherwise a partner
// linked through CanInput/CanOutput would keep its old link.
TLumDSPComponent* PortValue(const TLumDSPComponent* c, std::string_view name) {
    if (auto published = c->PublishedPort(name)) return *published;
    if (name == kInputPort) return c->GetInput();
    if (name == kOutputPort) return c->GetOutput();
    return nullptr;
}

// Walks over links are bounded by the number of members, so links made
// into a ring through the raw port setters cannot hang them.
std::size_t WalkLimit() {
    return Components().size() + 1;
}

} // namespace

// ---------------------------------------------------------------------------
// TLumDSPComponent

TLumDSPComponent::TLumDSPComponent(TComponent* owner) : TLumCustomDSPComponent(owner) {
    Components().push_back(this);
}

TLumDSPComponent::~TLumDSPComponent() {
    Destroying();
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
    auto& list = Components();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    // Partners that still point here (links made around SetInput/SetOutput)
    // drop them now, while this is still a whole chain member.
    RemoveFreeNotifications();
}

void TLumDSPComponent::UpdateParams() {
    if (LoadingOrDestroying()) return;
    if (input_)
        ChangePWaveFormat(input_->GetPWaveFormat());
    else if (output_)
        output_->ChangePWaveFormat(GetPWaveFormat());
}

void TLumDSPComponent::DeconnectNotification(TLumDSPComponent* component, bool input_side,
                                             std::string_view name) {
    if (component == nullptr) return;
    if (input_side) {
        if (component == input_ && input_port_ == name && PortValue(component, name) == this)
            SetInputPort(nullptr, "");
    } else {
        if (component == output_ && output_port_ == name && PortValue(component, name) == this)
            SetOutputPort(nullptr, "");
    }
}

void TLumDSPComponent::SetInput(TLumDSPComponent* v) {
    if (v == input_ || (v != nullptr && !CanConnectInput(v))) return;
    Stopped();
    if (input_) {
        GlobalDeconnectNotification(this, false, kInputPort);
        SetInputPort(nullptr, "");
        ChangePWaveFormat(nullptr);
    }
    if (v == nullptr) return;
    GlobalDeconnectNotification(v, true, kOutputPort);
    SetInputPort(v, kOutputPort);
    v->SetOutputPort(this, kInputPort);
    UpdateParams();
}

void TLumDSPComponent::SetOutput(TLumDSPComponent* v) {
    if (v == output_ || (v != nullptr && !CanConnectOutput(v))) return;
    Stopped();
    if (output_) {
        GlobalDeconnectNotification(this, true, kOutputPort);
        output_->ChangePWaveFormat(nullptr);
        SetOutputPort(nullptr, "");
    }
    if (v == nullptr) return;
    GlobalDeconnectNotification(v, false, kInputPort);
    SetOutputPort(v, kInputPort);
    v->SetInputPort(this, kOutputPort);
    UpdateParams();
}

void TLumDSPComponent::ChangePWaveFormat(const WAVEFORMATEX* format) {
    SetPWaveFormat(format);
}

void TLumDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format == format_) return;
    if (started_) Stopped();
    WAVEFORMATEX* copy = CopyWaveFormat(format);
    GlobalFreeMem(format_);
    format_ = copy;
    if (!LoadingOrDestroying() && output_) output_->ChangePWaveFormat(format_);
}

std::uint32_t TLumDSPComponent::GetBufferSize() const {
    return opened_ ? real_buffer_size_ : static_cast<std::uint32_t>(buffer_size_);
}

void TLumDSPComponent::SetBufferSize(std::int32_t bytes) {
    if (bytes == buffer_size_) return;
    if (started_) Stopped();
    buffer_size_ = bytes;
}

void TLumDSPComponent::Opened() {
    if (opened_) return;
    // Whole blocks, at least one. A block align of 0 (a damaged format)
    // counts as 1, and so does no format at all, so a size below one byte
    // never reaches a device as a huge unsigned length.
    std::int64_t align = format_ && format_->nBlockAlign != 0 ? format_->nBlockAlign : 1;
    std::int64_t size = buffer_size_;
    real_buffer_size_ = static_cast<std::uint32_t>(std::max(size - size % align, align));
    opened_ = true;
}

void TLumDSPComponent::Closed() {
    opened_ = false;
}

void TLumDSPComponent::Started() {
    if (opened_ && !started_) started_ = true;
}

void TLumDSPComponent::Paused() {}
void TLumDSPComponent::Restarted() {}
void TLumDSPComponent::Stopped() {
    started_ = false;
}
void TLumDSPComponent::Reseting() {}

void TLumDSPComponent::BufferReady(WAVEHDR* hdr) {
    if (OnBufferReady) OnBufferReady(this, hdr);
    if (output_) output_->BufferReady(hdr);
}

void TLumDSPComponent::BufferLoad(WAVEHDR* hdr, bool& more_buffers) {
    if (OnBufferLoad) OnBufferLoad(this, hdr, more_buffers);
    if (input_) input_->BufferLoad(hdr, more_buffers);
    if (OnBufferFilled && hdr != nullptr && hdr->dwBytesRecorded > 0) OnBufferFilled(this, hdr);
}

void TLumDSPComponent::SetInputPort(TLumDSPComponent* component, std::string_view name) {
    input_ = component;
    input_port_ = std::string(name.substr(0, kMaxPortName));
    if (component) component->FreeNotification(this);
}

void TLumDSPComponent::SetOutputPort(TLumDSPComponent* component, std::string_view name) {
    output_ = component;
    output_port_ = std::string(name.substr(0, kMaxPortName));
    if (component) component->FreeNotification(this);
}

bool TLumDSPComponent::CanConnectInput(TComponent* c) const {
    auto* d = dynamic_cast<TLumDSPComponent*>(c);
    if (d == nullptr || d == this) return false;
    if (!d->PublishedPort(kOutputPort) && !d->can_output_) return false;
    return output_ == nullptr || output_->CanConnectInput(c);
}

bool TLumDSPComponent::CanConnectOutput(TComponent* c) const {
    auto* d = dynamic_cast<TLumDSPComponent*>(c);
    if (d == nullptr || d == this) return false;
    if (!d->PublishedPort(kInputPort) && !d->can_input_) return false;
    return input_ == nullptr || input_->CanConnectOutput(c);
}

std::optional<TLumDSPComponent*> TLumDSPComponent::PublishedPort(std::string_view) const {
    return std::nullopt;
}

void TLumDSPComponent::Loaded() {
    TLumCustomDSPComponent::Loaded();
    // Loading held format propagation back. Storing the same reference again
    // would be a no-op, so the link rule runs instead: take the Input's
    // format, or pass this member's own on. Whichever member of a chain is
    // loaded last, the formats end up as linking would have left them.
    UpdateParams();
}

void TLumDSPComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component != nullptr) {
        // The partner is going and must not be called: clear the pointer
        // before anything (Stopped walks links) can reach it.
        if (component == input_) {
            SetInputPort(nullptr, "");
            Stopped();
            ChangePWaveFormat(nullptr);
        }
        if (component == output_) {
            SetOutputPort(nullptr, "");
            Stopped();
        }
    }
    TLumCustomDSPComponent::Notification(component, operation);
}

// ---------------------------------------------------------------------------
// TLumDSPInterface

void TLumDSPInterface::Opened() {
    if (IsOpened()) return;
    TLumDSPComponent::Opened();
    if (OnOpen) OnOpen(this);
}

void TLumDSPInterface::Closed() {
    if (!IsOpened()) return;
    TLumDSPComponent::Closed();
    if (OnClose) OnClose(this);
}

void TLumDSPInterface::Started() {
    if (!IsOpened() || IsStarted()) return;
    TLumDSPComponent::Started();
    if (OnStart) OnStart(this);
}

void TLumDSPInterface::Paused() {
    TLumDSPComponent::Paused();
    if (OnPause) OnPause(this);
}

void TLumDSPInterface::Restarted() {
    TLumDSPComponent::Restarted();
    if (OnRestart) OnRestart(this);
}

void TLumDSPInterface::Stopped() {
    if (!IsStarted()) return;
    TLumDSPComponent::Stopped();
    if (OnStop) OnStop(this);
}

std::optional<TLumDSPComponent*> TLumDSPInterface::PublishedPort(std::string_view name) const {
    if (name == kInputPort) return GetInput();
    if (name == kOutputPort) return GetOutput();
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// TLumCustomSoundComponent

TLumDSPComponent* TLumCustomSoundComponent::SegmentStart(bool* sound_above) const {
    auto* self = const_cast<TLumCustomSoundComponent*>(this);
    TLumDSPComponent* top = self;
    std::size_t steps = WalkLimit();
    for (TLumDSPComponent* up = GetInput(); up != nullptr && steps > 0;
         up = up->GetInput(), --steps) {
        if (up != this && IsSoundComponent(up)) {
            if (sound_above) *sound_above = true;
            return self;
        }
        top = up;
    }
    return top;
}

template <class Call>
void TLumCustomSoundComponent::WalkSegment(TLumDSPComponent* start, Call call) {
    std::size_t steps = WalkLimit();
    for (TLumDSPComponent* m = start; m != nullptr && steps > 0; --steps) {
        // The next link is read before the call, which may relink.
        TLumDSPComponent* next = m->GetOutput();
        if (m != this) {
            const bool sound = IsSoundComponent(m);
            call(m);
            if (sound) return;
        }
        m = next;
    }
}

template <class Call>
void TLumCustomSoundComponent::TearDownSegment(Call call) {
    std::size_t steps = WalkLimit();
    for (TLumDSPComponent* m = GetOutput(); m != nullptr && steps > 0;
         m = m->GetOutput(), --steps) {
        if (m != this && IsSoundComponent(m)) {
            call(m);
            break;
        }
    }
    steps = WalkLimit();
    for (TLumDSPComponent* m = SegmentStart(); m != nullptr && steps > 0; --steps) {
        TLumDSPComponent* next = m->GetOutput();
        if (m != this) {
            if (IsSoundComponent(m)) return;
            call(m);
        }
        m = next;
    }
}

void TLumCustomSoundComponent::Opened() {
    not_head_ = false;
    TLumDSPComponent* start = SegmentStart(&not_head_);
    const auto size = static_cast<std::int32_t>(GetBufferSize());
    WalkSegment(start, [size](TLumDSPComponent* m) {
        m->SetBufferSize(size);
        m->Opened();
    });
    TLumDSPComponent::Opened();
}

void TLumCustomSoundComponent::Started() {
    WalkSegment(SegmentStart(), [](TLumDSPComponent* m) { m->Started(); });
    TLumDSPComponent::Started();
}

void TLumCustomSoundComponent::Paused() {
    WalkSegment(SegmentStart(), [](TLumDSPComponent* m) { m->Paused(); });
    TLumDSPComponent::Paused();
}

void TLumCustomSoundComponent::Restarted() {
    WalkSegment(SegmentStart(), [](TLumDSPComponent* m) { m->Restarted(); });
    TLumDSPComponent::Restarted();
}

void TLumCustomSoundComponent::Reseting() {
    WalkSegment(SegmentStart(), [](TLumDSPComponent* m) { m->Reseting(); });
    TLumDSPComponent::Reseting();
}

void TLumCustomSoundComponent::Closed() {
    TearDownSegment([](TLumDSPComponent* m) { m->Closed(); });
    TLumDSPComponent::Closed();
}

void TLumCustomSoundComponent::Stopped() {
    TearDownSegment([](TLumDSPComponent* m) { m->Stopped(); });
    TLumDSPComponent::Stopped();
}

// ---------------------------------------------------------------------------
// TLumDSPThread

TLumDSPThread::TLumDSPThread(TLumDSPComponent* owner) : owner_(owner) {
    ThreadList& list = Threads();
    std::lock_guard lock(list.mutex);
    list.threads.push_back(this);
}

TLumDSPThread::~TLumDSPThread() {
    Terminate();
    WaitFor();
    ThreadList& list = Threads();
    std::lock_guard lock(list.mutex);
    list.threads.erase(std::remove(list.threads.begin(), list.threads.end(), this),
                       list.threads.end());
}

// ---------------------------------------------------------------------------
// Free functions

bool DSPInpConnectCheck(TComponent* a, TComponent* b) {
    auto* target = dynamic_cast<TLumDSPComponent*>(b);
    return target != nullptr && target->CanConnectInput(a);
}

bool DSPOutConnectCheck(TComponent* a, TComponent* b) {
    auto* target = dynamic_cast<TLumDSPComponent*>(a);
    return target != nullptr && target->CanConnectOutput(b);
}

void GlobalDeconnectNotification(TLumDSPComponent* component, bool input_side,
                                 std::string_view name) {
    // By index: a member may be created while the notification runs.
    auto& list = Components();
    for (std::size_t i = 0; i < list.size(); ++i)
        list[i]->DeconnectNotification(component, input_side, name);
}

int GlobalSynchronize(const TLumSyncMethod& method, void* data) {
    if (!method) return 0;
    if (platform::IsMainThread()) return method(data);
    // Any thread that is not the main one is marshalled, registered or not:
    // a device's callback thread must not run user-interface code either.
    TLumDSPThread* mine = nullptr;
    {
        ThreadList& list = Threads();
        std::lock_guard lock(list.mutex);
        const auto me = std::this_thread::get_id();
        for (TLumDSPThread* t : list.threads)
            if (t->ThreadID() == me) mine = t;
    }
    int result = 0;
    auto call = [&] { result = method(data); };
    if (mine)
        mine->Synchronize(call);
    else
        platform::RunOnMainThread(call);
    return result;
}

int DSPComponentCount() {
    return static_cast<int>(Components().size());
}

TLumDSPComponent* DSPComponent(int index) {
    auto& list = Components();
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        throw EListError::IndexOutOfBounds(index);
    return list[static_cast<std::size_t>(index)];
}

int DSPThreadCount() {
    ThreadList& list = Threads();
    std::lock_guard lock(list.mutex);
    return static_cast<int>(list.threads.size());
}

} // namespace lum
