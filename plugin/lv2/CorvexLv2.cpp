#include "CorvexLv2.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ImpulseFile.h"
#include "ImpulsePreparation.h"
#include "ImpulseSection.h"

namespace corvex::lv2 {

namespace {

// Copies a header out of the host's buffer: some hosts hand over sequences that are only 4-byte
// aligned, so nothing in them is read through a cast pointer.
template <typename T>
T ReadAt(const unsigned char* bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

constexpr std::size_t Padded(std::size_t size)
{
    return (size + 7u) & ~std::size_t(7u);
}

// Calls visit(property, value offset) for each property of the object whose body starts at
// `body`; a property running past `end` ends the walk.
template <typename Visit>
void ForEachProperty(const unsigned char* bytes, std::size_t body, std::size_t end, Visit visit)
{
    for (std::size_t p = body + sizeof(LV2_Atom_Object_Body); p + sizeof(LV2_Atom_Property_Body) <= end;) {
        const LV2_Atom_Property_Body property = ReadAt<LV2_Atom_Property_Body>(bytes, p);
        const std::size_t value = p + sizeof(LV2_Atom_Property_Body);
        if (value + property.value.size > end)
            return;
        p = value + Padded(property.value.size);
        visit(property, value);
    }
}

// Copies text into a zero-terminated buffer, cut at a character boundary when it does not fit.
template <std::size_t N>
void CopyText(char (&to)[N], const char* from, std::size_t length)
{
    if (length > N - 1) {
        length = N - 1;
        while (length > 0 && (static_cast<unsigned char>(from[length]) & 0xC0u) == 0x80u)
            --length;
    }
    std::memcpy(to, from, length);
    to[length] = '\0';
}

} // namespace

CCorvexLv2* CCorvexLv2::Create(double sampleRate, const LV2_Feature* const* features)
{
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    const LV2_Worker_Schedule* schedule = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_WORKER__schedule) == 0)
            schedule = static_cast<const LV2_Worker_Schedule*>(features[i]->data);
    }
    int maxBlock = kDefaultMaxBlock;
    if (options != nullptr && map != nullptr) {
        const LV2_URID maxLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
        const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
        for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o)
            if (o->key == maxLength && o->type == intType && o->size == sizeof(int32_t) && o->value != nullptr)
                maxBlock = *static_cast<const int32_t*>(o->value);
    }

    // No exception may reach the host: a plug-in that cannot get its buffers is no instance.
    CCorvexLv2* plugin = nullptr;
    try {
        plugin = new CCorvexLv2;
        if (!plugin->m_core.Prepare(sampleRate, maxBlock > 0 ? maxBlock : kDefaultMaxBlock)) {
            delete plugin; // a rate the engine cannot take
            return nullptr;
        }
    }
    catch (...) {
        delete plugin;
        return nullptr;
    }
    plugin->m_dSampleRate = sampleRate;
    // Without the map the host cannot send time:Position or patch messages either: the tempo
    // stays at its default and the cabinet is the built-in one.
    if (map == nullptr)
        return plugin;
    plugin->m_pSchedule = schedule;
    lv2_atom_forge_init(&plugin->m_forge, map);
    auto& u = plugin->m_uris;
    const auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
    u.atomBlank = urid(LV2_ATOM__Blank);
    u.atomObject = urid(LV2_ATOM__Object);
    u.atomFloat = urid(LV2_ATOM__Float);
    u.atomDouble = urid(LV2_ATOM__Double);
    u.atomInt = urid(LV2_ATOM__Int);
    u.atomLong = urid(LV2_ATOM__Long);
    u.atomPath = urid(LV2_ATOM__Path);
    u.atomString = urid(LV2_ATOM__String);
    u.atomChunk = urid(LV2_ATOM__Chunk);
    u.atomVector = urid(LV2_ATOM__Vector);
    u.atomUrid = urid(LV2_ATOM__URID);
    u.atomBool = urid(LV2_ATOM__Bool);
    u.timePosition = urid(LV2_TIME__Position);
    u.timeBeatsPerMinute = urid(LV2_TIME__beatsPerMinute);
    u.patchSet = urid(LV2_PATCH__Set);
    u.patchGet = urid(LV2_PATCH__Get);
    u.patchProperty = urid(LV2_PATCH__property);
    u.patchValue = urid(LV2_PATCH__value);
    u.impulse = urid(kImpulseUri);
    u.notice = urid(kNoticeUri);
    u.impulseName = urid(kImpulseNameUri);
    u.impulseError = urid(kImpulseErrorUri);
    u.controls = urid(kControlsUri);
    u.impulseState = urid(kImpulseStateUri);
    u.controlsOnly = urid(kControlsOnlyUri);
    u.tuner = urid(kTunerUri);
    u.tunerShown = urid(kTunerShownUri);
    u.tunerMute = urid(kTunerMuteUri);
    u.tunerReference = urid(kTunerReferenceUri);
    u.tunerReading = urid(kTunerReadingUri);
    return plugin;
}

CCorvexLv2::~CCorvexLv2()
{
    // Nothing runs any more: what waits for the worker is freed here; the impulses the core
    // still holds, the core frees.
    delete m_pRestored.exchange(nullptr);
    for (int i = 0; i < m_iDisposals; ++i) {
        if (m_aDisposals[i].kind == WorkKind::FreeImpulse)
            delete static_cast<CCabinetImpulse*>(m_aDisposals[i].pointer);
        else
            delete static_cast<ImpulseChange*>(m_aDisposals[i].pointer);
    }
}

void CCorvexLv2::Connect(std::uint32_t port, void* data)
{
    if (port == kPortTime)
        m_pTime = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kPortNotify)
        m_pNotify = static_cast<LV2_Atom_Sequence*>(data);
    else if (port < kPortCount)
        m_apfPorts[port] = static_cast<const float*>(data);
}

void CCorvexLv2::Activate()
{
    m_core.Activate();
}

void CCorvexLv2::ReadEvents()
{
    if (m_pTime == nullptr || m_uris.timePosition == 0)
        return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_pTime);
    const std::size_t end = sizeof(LV2_Atom) + ReadAt<LV2_Atom>(bytes, 0).size;
    // Events follow the sequence header, each a time stamp and an atom, padded to 8 bytes.
    for (std::size_t at = sizeof(LV2_Atom_Sequence); at + sizeof(LV2_Atom_Event) <= end;) {
        const LV2_Atom_Event event = ReadAt<LV2_Atom_Event>(bytes, at);
        const std::size_t body = at + sizeof(LV2_Atom_Event);
        const std::size_t bodyEnd = std::min(end, body + event.body.size);
        at = body + Padded(event.body.size);
        if ((event.body.type != m_uris.atomObject && event.body.type != m_uris.atomBlank) ||
            body + sizeof(LV2_Atom_Object_Body) > bodyEnd)
            continue;
        const LV2_URID otype = ReadAt<LV2_Atom_Object_Body>(bytes, body).otype;
        if (otype == m_uris.patchSet || otype == m_uris.patchGet) {
            ReadPatch(bytes, body, bodyEnd, otype == m_uris.patchSet);
            continue;
        }
        if (otype == m_uris.tuner) {
            ReadTuner(bytes, body, bodyEnd);
            continue;
        }
        if (otype != m_uris.timePosition)
            continue;
        ForEachProperty(bytes, body, bodyEnd, [&](const LV2_Atom_Property_Body& property, std::size_t value) {
            if (property.key != m_uris.timeBeatsPerMinute)
                return;
            // The last position of the run counts for the whole run, as a block's tempo does in VST 3.
            const std::uint32_t type = property.value.type;
            const std::uint32_t size = property.value.size;
            if (type == m_uris.atomFloat && size >= sizeof(float))
                m_core.SetTempo(ReadAt<float>(bytes, value));
            else if (type == m_uris.atomDouble && size >= sizeof(double))
                m_core.SetTempo(ReadAt<double>(bytes, value));
            else if (type == m_uris.atomInt && size >= sizeof(std::int32_t))
                m_core.SetTempo(ReadAt<std::int32_t>(bytes, value));
            else if (type == m_uris.atomLong && size >= sizeof(std::int64_t))
                m_core.SetTempo(double(ReadAt<std::int64_t>(bytes, value)));
        });
    }
}

// A patch:Set or patch:Get whose object body starts at `body`: only the IR property is ours.
void CCorvexLv2::ReadPatch(const unsigned char* bytes, std::size_t body, std::size_t end, bool set)
{
    LV2_URID property = 0;
    std::size_t value = 0;
    LV2_Atom valueAtom{};
    ForEachProperty(bytes, body, end, [&](const LV2_Atom_Property_Body& entry, std::size_t at) {
        if (entry.key == m_uris.patchProperty && entry.value.type == m_uris.atomUrid &&
            entry.value.size >= sizeof(LV2_URID))
            property = ReadAt<LV2_URID>(bytes, at);
        else if (entry.key == m_uris.patchValue) {
            value = at;
            valueAtom = entry.value;
        }
    });
    if (!set) {
        // No property asks for all of them; the UI asks this way too.
        if (property == 0 || property == m_uris.impulse) {
            m_bSendPath = m_acPath[0] != '\0';
            m_bSendName = true;
        }
        return;
    }
    if (property != m_uris.impulse || value == 0)
        return;
    if (valueAtom.type != m_uris.atomPath && valueAtom.type != m_uris.atomString) {
        Refuse("the cabinet IR must be given as a file path");
        return;
    }
    const char* path = reinterpret_cast<const char*>(bytes + value);
    RequestLoad(path, strnlen(path, valueAtom.size));
}

void CCorvexLv2::RequestLoad(const char* path, std::size_t length)
{
    if (length > kMaxText) {
        Refuse("the cabinet IR's path is too long");
        return;
    }
    if (m_pSchedule == nullptr) {
        Refuse("this host offers no worker to load a cabinet IR");
        return;
    }
    // An empty path goes back to the built-in cabinet, through the worker all the same: it keeps
    // what a save writes in step with what plays.
    const WorkRequest request{length > 0 ? WorkKind::Load : WorkKind::Clear, nullptr};
    std::memcpy(m_aucRequest, &request, sizeof request);
    std::memcpy(m_aucRequest + sizeof request, path, length);
    if (m_pSchedule->schedule_work(m_pSchedule->handle, std::uint32_t(sizeof request + length), m_aucRequest) !=
        LV2_WORKER_SUCCESS)
        Refuse("the host's worker is busy: choose the cabinet IR again");
}

void CCorvexLv2::Refuse(const char* reason)
{
    CopyText(m_acError, reason, std::strlen(reason));
    m_bSendError = true;
}

void CCorvexLv2::ReadControls()
{
    for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
        if (const float* value = m_apfPorts[port])
            m_core.SetParam(kPorts[port].id, *value);
    if (const float* enabled = m_apfPorts[kPortEnabled])
        if (!std::isnan(*enabled))
            m_core.SetParam(kBypass, *enabled > 0.0f ? 0.0 : 1.0);
}

void CCorvexLv2::Apply(ImpulseChange* change)
{
    if (!change->error.empty()) {
        CopyText(m_acError, change->error.data(), change->error.size());
        m_bSendError = true;
    } else if (!change->keep && change->generation > m_iInstalledGeneration) {
        m_iInstalledGeneration = change->generation;
        // The core owns it from here (built-in to built-in is no change at all).
        if (CCabinetImpulse* replaced = m_core.ExchangeImpulse(change->impulse.release()))
            Dispose(WorkKind::FreeImpulse, replaced);
        CopyText(m_acPath, change->path.data(), change->path.size());
        CopyText(m_acName, change->name.data(), change->name.size());
        m_bSendPath = m_acPath[0] != '\0';
        m_bSendName = true;
    }
    Dispose(WorkKind::FreeChange, change);
}

void CCorvexLv2::Dispose(WorkKind kind, void* pointer)
{
    // Full only if the host has not called the worker for many runs: then it is kept (leaked)
    // rather than freed here.
    if (m_iDisposals < kDisposalSlots)
        m_aDisposals[m_iDisposals++] = {kind, pointer};
}

void CCorvexLv2::SendDisposals()
{
    int kept = 0;
    for (int i = 0; i < m_iDisposals; ++i) {
        const WorkRequest request{m_aDisposals[i].kind, m_aDisposals[i].pointer};
        if (m_pSchedule == nullptr ||
            m_pSchedule->schedule_work(m_pSchedule->handle, sizeof request, &request) != LV2_WORKER_SUCCESS)
            m_aDisposals[kept++] = m_aDisposals[i];
    }
    m_iDisposals = kept;
}

void CCorvexLv2::ReadTuner(const unsigned char* bytes, std::size_t body, std::size_t end)
{
    bool shown = false, mute = true;
    double reference = CPitchDetector::kDefaultReference;
    ForEachProperty(bytes, body, end, [&](const LV2_Atom_Property_Body& property, std::size_t value) {
        if (property.value.type == m_uris.atomBool && property.value.size >= sizeof(std::int32_t)) {
            if (property.key == m_uris.tunerShown)
                shown = ReadAt<std::int32_t>(bytes, value) != 0;
            else if (property.key == m_uris.tunerMute)
                mute = ReadAt<std::int32_t>(bytes, value) != 0;
        } else if (property.key == m_uris.tunerReference && property.value.type == m_uris.atomFloat &&
                   property.value.size >= sizeof(float)) {
            reference = ReadAt<float>(bytes, value);
        }
    });
    // Without a worker the analysis has nowhere to run: the tuner stays closed.
    shown = shown && m_pSchedule != nullptr;
    if (shown != m_bTunerShown) {
        m_bTunerFlush = !shown;
        m_iTunerUnasked = 0;
    }
    m_bTunerShown = shown;
    m_dTunerReference = reference;
    m_iTunerQuiet = 0;
    m_core.SetTuner(shown, mute);
}

void CCorvexLv2::RunTuner(std::uint32_t samples)
{
    if (m_bTunerShown) {
        m_iTunerQuiet += samples;
        m_iTunerUnasked += samples;
        if (m_iTunerQuiet > std::int64_t(kTunerTimeoutSeconds * m_dSampleRate)) {
            m_bTunerShown = false;
            m_bTunerFlush = true;
            m_core.SetTuner(false, false);
        }
    }
    // One request at a time: a reading per hop's worth of samples while open, and once closed,
    // the flush that leaves the next opening nothing stale.
    const bool due = m_bTunerShown ? m_iTunerUnasked >= std::int64_t(CTunerAnalyser::kHopSeconds * m_dSampleRate)
                                   : m_bTunerFlush;
    if (m_bTunerWorking || !due)
        return;
    struct {
        WorkRequest request;
        TuneRequest tune;
    } message{{WorkKind::Tune, nullptr}, {m_dTunerReference, !m_bTunerShown}};
    if (m_pSchedule->schedule_work(m_pSchedule->handle, sizeof message, &message) == LV2_WORKER_SUCCESS) {
        m_bTunerWorking = true;
        m_bTunerFlush = false;
        m_iTunerUnasked = 0;
    }
}

void CCorvexLv2::WriteNotifications()
{
    if (m_pNotify == nullptr || m_uris.patchSet == 0)
        return;
    // The host states the room it gives in the sequence's size.
    lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<std::uint8_t*>(m_pNotify), m_pNotify->atom.size);
    LV2_Atom_Forge_Frame sequence;
    if (!lv2_atom_forge_sequence_head(&m_forge, &sequence, 0))
        return;
    // An event with an object of otype around key and a value of valueSize bytes, if it fits
    // whole: a patch:Set of the property key, or a notice carrying key itself. What does not fit
    // waits for a later run.
    const auto begin = [this](LV2_Atom_Forge_Frame& frame, LV2_URID otype, LV2_URID key, std::size_t valueSize) {
        const std::size_t needed = sizeof(LV2_Atom_Event) + sizeof(LV2_Atom_Object) +
                                   2 * sizeof(LV2_Atom_Property_Body) + Padded(sizeof(LV2_URID)) +
                                   Padded(valueSize);
        if (m_forge.offset + needed > m_forge.size)
            return false;
        lv2_atom_forge_frame_time(&m_forge, 0);
        lv2_atom_forge_object(&m_forge, &frame, 0, otype);
        if (otype == m_uris.patchSet) {
            lv2_atom_forge_key(&m_forge, m_uris.patchProperty);
            lv2_atom_forge_urid(&m_forge, key);
            lv2_atom_forge_key(&m_forge, m_uris.patchValue);
        } else
            lv2_atom_forge_key(&m_forge, key);
        return true;
    };
    LV2_Atom_Forge_Frame frame;
    // Text sent as a path (to the host) or a string (to the UI); false when it waits.
    const auto sendText = [&](LV2_URID otype, LV2_URID key, const char* text) {
        const std::size_t length = std::strlen(text);
        if (!begin(frame, otype, key, length + 1))
            return false;
        if (otype == m_uris.patchSet)
            lv2_atom_forge_path(&m_forge, text, std::uint32_t(length));
        else
            lv2_atom_forge_string(&m_forge, text, std::uint32_t(length));
        lv2_atom_forge_pop(&m_forge, &frame);
        return true;
    };
    if (m_bSendPath && sendText(m_uris.patchSet, m_uris.impulse, m_acPath))
        m_bSendPath = false;
    if (m_bSendName && sendText(m_uris.notice, m_uris.impulseName, m_acName))
        m_bSendName = false;
    if (m_bSendError && sendText(m_uris.notice, m_uris.impulseError, m_acError))
        m_bSendError = false;
    if (m_bSendReading) {
        const PitchReading& pitch = m_tunerReading.pitch;
        const double values[4] = {m_tunerReading.dSeconds, pitch.bPitched ? pitch.dHertz : 0.0,
                                  double(pitch.iNote), pitch.dCents};
        if (begin(frame, m_uris.notice, m_uris.tunerReading, sizeof(LV2_Atom_Vector_Body) + sizeof values)) {
            lv2_atom_forge_vector(&m_forge, sizeof(double), m_uris.atomDouble, 4, values);
            lv2_atom_forge_pop(&m_forge, &frame);
            m_bSendReading = false;
        }
    }
    if (m_bSendControls) {
        constexpr std::uint32_t kCount = kPortEnabled - kPortFirstParam;
        float values[kCount];
        for (std::uint32_t i = 0; i < kCount; ++i)
            values[i] = m_core.Param(kPorts[kPortFirstParam + i].id);
        if (begin(frame, m_uris.notice, m_uris.controls, sizeof(LV2_Atom_Vector_Body) + sizeof values)) {
            lv2_atom_forge_vector(&m_forge, sizeof(float), m_uris.atomFloat, kCount, values);
            lv2_atom_forge_pop(&m_forge, &frame);
            m_bSendControls = false;
        }
    }
    lv2_atom_forge_pop(&m_forge, &sequence);
}

void CCorvexLv2::Run(std::uint32_t samples)
{
    // The core holds the denormal guard over the chain.
    while (CCabinetImpulse* retired = m_core.TakeRetiredImpulse())
        Dispose(WorkKind::FreeImpulse, retired);
    if (ImpulseChange* restored = m_pRestored.exchange(nullptr, std::memory_order_acquire)) {
        Apply(restored);
        // The host has set the restored values by now; the UI hears them and the IR's name
        // unasked, since some hosts pass it nothing and drop what it asks.
        m_bSendControls = true;
        m_bSendName = true;
    }
    SendDisposals();
    ReadEvents();
    ReadControls();
    m_core.BeginBlock();
    const float* inputs[2] = {m_apfPorts[kPortInLeft], m_apfPorts[kPortInRight]};
    float* outputs[2] = {const_cast<float*>(m_apfPorts[kPortOutLeft]), const_cast<float*>(m_apfPorts[kPortOutRight])};
    std::uint64_t silence = 0;
    // LV2 says nothing about silent inputs: the chain always runs.
    if (samples > 0 && !m_core.Run(inputs, 2, 0, outputs, 2, int(samples), silence))
        for (float* out : outputs) // a failed chain leaves silence, never stale samples
            if (out != nullptr)
                std::memset(out, 0, sizeof(float) * samples);
    for (std::uint32_t port = kPortFirstIndicator; port < kPortEndIndicator; ++port)
        if (float* out = const_cast<float*>(m_apfPorts[port]))
            *out = m_core.Param(kPorts[port].id);
    RunTuner(samples);
    WriteNotifications();
}

void CCorvexLv2::MakeCurrent(std::shared_ptr<const ImpulseSource> source, ImpulseChange& change)
{
    const std::lock_guard<std::mutex> lock(m_sourceMutex);
    m_pSource = std::move(source);
    change.generation = ++m_iGeneration;
}

LV2_Worker_Status CCorvexLv2::Work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                                   std::uint32_t size, const void* data)
{
    WorkRequest request{};
    if (data == nullptr || size < sizeof request)
        return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&request, data, sizeof request);
    switch (request.kind) {
    case WorkKind::FreeImpulse:
        delete static_cast<CCabinetImpulse*>(request.pointer);
        return LV2_WORKER_SUCCESS;
    case WorkKind::FreeChange:
        delete static_cast<ImpulseChange*>(request.pointer);
        return LV2_WORKER_SUCCESS;
    case WorkKind::Load:
    case WorkKind::Clear:
        break;
    case WorkKind::Tune: {
        TuneRequest tune{};
        if (size != sizeof request + sizeof tune)
            return LV2_WORKER_ERR_UNKNOWN;
        std::memcpy(&tune, static_cast<const char*>(data) + sizeof request, sizeof tune);
        TuneAnswer answer;
        try {
            if (!m_pTuner)
                m_pTuner = std::make_unique<CTunerAnalyser>(m_dSampleRate);
        }
        catch (...) {
            respond(handle, sizeof answer, &answer);
            return LV2_WORKER_ERR_NO_SPACE;
        }
        if (tune.flush) {
            m_pTuner->Drain(m_core.TunerRing(), [](const TunerReading&) {});
            m_pTuner->Reset();
            return respond(handle, sizeof answer, &answer);
        }
        m_pTuner->SetReference(tune.reference);
        m_pTuner->Drain(m_core.TunerRing(), [&answer](const TunerReading& reading) {
            answer.reading = reading;
            answer.read = true;
        });
        return respond(handle, sizeof answer, &answer);
    }
    default:
        return LV2_WORKER_ERR_UNKNOWN;
    }
    std::unique_ptr<ImpulseChange> change;
    try {
        change = std::make_unique<ImpulseChange>();
        std::shared_ptr<ImpulseSource> source;
        if (request.kind == WorkKind::Load) {
            const std::string path(static_cast<const char*>(data) + sizeof request, size - sizeof request);
            source = std::make_shared<ImpulseSource>();
            if (!ReadImpulseFile(path, *source, change->error))
                source = nullptr;
            else if (!(change->impulse = PrepareImpulse(*source, m_dSampleRate))) {
                change->error = "not enough memory for '" + source->name + "'";
                source = nullptr;
            } else {
                change->name = source->name;
                // Only a file hosts can read again is reported back to them.
                if (std::filesystem::path(path).is_absolute())
                    change->path = path;
            }
        }
        if (change->error.empty())
            MakeCurrent(std::move(source), *change);
    }
    catch (...) {
        return LV2_WORKER_ERR_NO_SPACE;
    }
    ImpulseChange* response = change.get();
    if (respond(handle, sizeof response, &response) != LV2_WORKER_SUCCESS)
        return LV2_WORKER_ERR_NO_SPACE;
    change.release(); // work_response has it now
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status CCorvexLv2::WorkResponse(std::uint32_t size, const void* data)
{
    if (data != nullptr && size == sizeof(TuneAnswer)) {
        TuneAnswer answer;
        std::memcpy(&answer, data, sizeof answer);
        m_bTunerWorking = false;
        // A reading from before the tuner closed is not sent.
        if (answer.read && m_bTunerShown) {
            m_tunerReading = answer.reading;
            m_bSendReading = true;
        }
        return LV2_WORKER_SUCCESS;
    }
    ImpulseChange* change = nullptr;
    if (data == nullptr || size != sizeof change)
        return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&change, data, sizeof change);
    Apply(change);
    return LV2_WORKER_SUCCESS;
}

LV2_State_Status CCorvexLv2::Save(LV2_State_Store_Function store, LV2_State_Handle handle)
{
    std::shared_ptr<const ImpulseSource> source;
    {
        const std::lock_guard<std::mutex> lock(m_sourceMutex);
        source = m_pSource;
    }
    if (source == nullptr) // the built-in cabinet: the ports say everything
        return LV2_STATE_SUCCESS;
    std::vector<std::uint8_t> section;
    try {
        section = EncodeImpulseSection(*source);
    }
    catch (...) {
        return LV2_STATE_ERR_NO_SPACE;
    }
    return store(handle, m_uris.impulseState, section.data(), section.size(), m_uris.atomChunk,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status CCorvexLv2::Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle)
{
    if (m_uris.impulseState == 0)
        return LV2_STATE_ERR_NO_FEATURE;
    std::size_t size = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    const void* data = retrieve(handle, m_uris.impulseState, &size, &type, &flags);
    LV2_State_Status status = LV2_STATE_SUCCESS;
    std::unique_ptr<ImpulseChange> change;
    try {
        change = std::make_unique<ImpulseChange>();
        // No section: the built-in cabinet, as every state from before user IRs, unless the
        // state says it holds the controls only.
        std::shared_ptr<ImpulseSource> source;
        if (data != nullptr) {
            source = std::make_shared<ImpulseSource>();
            if (type != m_uris.atomChunk) {
                change->error = "the session's cabinet IR is not stored as bytes";
                status = LV2_STATE_ERR_BAD_TYPE;
            } else if (!DecodeImpulseSection(static_cast<const std::uint8_t*>(data), size, *source, change->error))
                status = LV2_STATE_ERR_UNKNOWN;
            else if (!(change->impulse = PrepareImpulse(*source, m_dSampleRate))) {
                change->error = "not enough memory for '" + source->name + "'";
                status = LV2_STATE_ERR_NO_SPACE;
            } else
                change->name = source->name;
        } else {
            // A factory preset sets the controls only: the IR that plays stays.
            std::size_t markerSize = 0;
            std::uint32_t markerType = 0;
            const void* marker = retrieve(handle, m_uris.controlsOnly, &markerSize, &markerType, &flags);
            change->keep = marker != nullptr && markerType == m_uris.atomBool && markerSize >= sizeof(std::int32_t) &&
                           ReadAt<std::int32_t>(static_cast<const unsigned char*>(marker), 0) != 0;
        }
        // Refused whole: the cabinet and what a save writes stay; the UI learns why.
        if (status == LV2_STATE_SUCCESS && !change->keep)
            MakeCurrent(std::move(source), *change);
    }
    catch (...) {
        return LV2_STATE_ERR_NO_SPACE;
    }
    // A change run() has not taken yet is superseded.
    delete m_pRestored.exchange(change.release(), std::memory_order_acq_rel);
    return status;
}

namespace {

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    return CCorvexLv2::Create(rate, features);
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data)
{
    static_cast<CCorvexLv2*>(instance)->Connect(port, data);
}

void Activate(LV2_Handle instance)
{
    static_cast<CCorvexLv2*>(instance)->Activate();
}

void Run(LV2_Handle instance, uint32_t samples)
{
    static_cast<CCorvexLv2*>(instance)->Run(samples);
}

void Deactivate(LV2_Handle instance)
{
    static_cast<CCorvexLv2*>(instance)->Activate();
}

void Cleanup(LV2_Handle instance)
{
    delete static_cast<CCorvexLv2*>(instance);
}

LV2_Worker_Status Work(LV2_Handle instance, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void* data)
{
    return static_cast<CCorvexLv2*>(instance)->Work(respond, handle, size, data);
}

LV2_Worker_Status WorkResponse(LV2_Handle instance, uint32_t size, const void* data)
{
    return static_cast<CCorvexLv2*>(instance)->WorkResponse(size, data);
}

LV2_State_Status Save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*)
{
    return static_cast<CCorvexLv2*>(instance)->Save(store, handle);
}

LV2_State_Status Restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                         uint32_t, const LV2_Feature* const*)
{
    return static_cast<CCorvexLv2*>(instance)->Restore(retrieve, handle);
}

const LV2_Worker_Interface kWorkerInterface = {Work, WorkResponse, nullptr};
const LV2_State_Interface kStateInterface = {Save, Restore};

const void* ExtensionData(const char* uri)
{
    if (uri == nullptr)
        return nullptr;
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &kWorkerInterface;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &kStateInterface;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup,
                                    ExtensionData};

} // namespace
} // namespace corvex::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &corvex::lv2::kDescriptor : nullptr;
}
