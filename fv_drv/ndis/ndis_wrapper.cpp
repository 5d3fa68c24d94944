// Wrapper, registration of the driver's two edges, binding to lower adapters, configuration.
#include <algorithm>

#include "fv_drv/ndis/ndis_internal.h"

using namespace ndis::detail;

namespace ndis::detail {

Wrapper& TheWrapper() {
    static Wrapper wrapper;
    return wrapper;
}

NDIS_STRING StringView(const std::u16string& s) {
    NDIS_STRING view;
    view.Length = USHORT(s.size() * sizeof(WCHAR));
    view.MaximumLength = view.Length;
    view.Buffer = const_cast<PWSTR>(s.data());
    return view;
}

std::u16string FromNdisString(const NDIS_STRING* s) {
    if (s == nullptr || s->Buffer == nullptr) return {};
    return std::u16string(s->Buffer, s->Length / sizeof(WCHAR));
}

void BindProtocol(ProtocolBlock* protocol, ndis::media::LowerAdapter* adapter) {
    Wrapper& w = TheWrapper();
    {
        std::lock_guard guard(w.Lock);
        for (const BindingRecord& r : w.Bindings) {
            if (r.Protocol == protocol && r.Adapter == adapter) return;
        }
        w.Bindings.push_back({protocol, adapter, nullptr});
    }
    const std::u16string name = adapter->Name();
    NDIS_STRING deviceName = StringView(name);
    ProtocolSection section{deviceName, adapter->UpperBindings()};
    NDIS_STATUS status = NDIS_STATUS_FAILURE;
    if (protocol->Chars.BindAdapterHandler != nullptr) {
        protocol->Chars.BindAdapterHandler(&status, nullptr, &deviceName, &section, nullptr);
    }
    if (status != NDIS_STATUS_SUCCESS) {
        std::lock_guard guard(w.Lock);
        std::erase_if(w.Bindings, [&](const BindingRecord& r) {
            return r.Protocol == protocol && r.Adapter == adapter && r.Open == nullptr;
        });
    }
}

void UnbindProtocol(ProtocolBlock* protocol, ndis::media::LowerAdapter* adapter) {
    Wrapper& w = TheWrapper();
    for (;;) {
        OpenBlock* open = nullptr;
        {
            std::lock_guard guard(w.Lock);
            for (const BindingRecord& r : w.Bindings) {
                if ((protocol == nullptr || r.Protocol == protocol) &&
                    (adapter == nullptr || r.Adapter == adapter) && r.Open != nullptr) {
                    open = r.Open;
                    break;
                }
            }
        }
        if (open == nullptr) return;
        NDIS_STATUS status = NDIS_STATUS_SUCCESS;
        open->Protocol->Chars.UnbindAdapterHandler(&status, open->Context, nullptr);
        // A protocol that left its binding open is not asked again.
        std::lock_guard guard(w.Lock);
        std::erase_if(w.Bindings, [open](const BindingRecord& r) { return r.Open == open; });
    }
}

void DetachOpen(OpenBlock* open) {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    std::erase_if(w.Bindings, [open](const BindingRecord& r) { return r.Open == open; });
}

void ForgetOpen(OpenBlock* open) {
    DetachOpen(open);
    delete open;
}

}  // namespace ndis::detail

void NdisMInitializeWrapper(PNDIS_HANDLE ndisWrapperHandle, PVOID, PVOID, PVOID) {
    *ndisWrapperHandle = &TheWrapper();
}

void NdisTerminateWrapper(NDIS_HANDLE, PVOID) {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    w.Protocols.clear();
    w.Drivers.clear();
    w.Driver.DriverUnload = nullptr;
}

NDIS_STATUS NdisIMRegisterLayeredMiniport(NDIS_HANDLE, PNDIS_MINIPORT_CHARACTERISTICS characteristics,
                                          UINT characteristicsLength, PNDIS_HANDLE driverHandle) {
    *driverHandle = nullptr;
    if (characteristicsLength < sizeof(NDIS_MINIPORT_CHARACTERISTICS) ||
        characteristics->InitializeHandler == nullptr || characteristics->HaltHandler == nullptr) {
        return NDIS_STATUS_FAILURE;
    }
    auto block = std::make_unique<DriverBlock>();
    block->Chars = *characteristics;
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    *driverHandle = block.get();
    w.Drivers.push_back(std::move(block));
    return NDIS_STATUS_SUCCESS;
}

void NdisIMDeregisterLayeredMiniport(NDIS_HANDLE driverHandle) {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    std::erase_if(w.Drivers, [&](const auto& d) { return d.get() == driverHandle; });
}

void NdisMRegisterUnloadHandler(NDIS_HANDLE, PDRIVER_UNLOAD unloadHandler) {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    w.Driver.DriverUnload = unloadHandler;
}

void NdisIMAssociateMiniport(NDIS_HANDLE driverHandle, NDIS_HANDLE protocolHandle) {
    static_cast<DriverBlock*>(driverHandle)->Protocol = static_cast<ProtocolBlock*>(protocolHandle);
}

void NdisRegisterProtocol(PNDIS_STATUS status, PNDIS_HANDLE ndisProtocolHandle,
                          PNDIS_PROTOCOL_CHARACTERISTICS chars, UINT characteristicsLength) {
    *ndisProtocolHandle = nullptr;
    if (characteristicsLength < sizeof(NDIS_PROTOCOL_CHARACTERISTICS) ||
        chars->BindAdapterHandler == nullptr || chars->UnbindAdapterHandler == nullptr) {
        *status = NDIS_STATUS_FAILURE;
        return;
    }
    auto block = std::make_unique<ProtocolBlock>();
    block->Chars = *chars;
    block->Name = FromNdisString(&chars->Name);
    block->Chars.Name = StringView(block->Name);
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    *ndisProtocolHandle = block.get();
    w.Protocols.push_back(std::move(block));
    *status = NDIS_STATUS_SUCCESS;
}

void NdisDeregisterProtocol(PNDIS_STATUS status, NDIS_HANDLE ndisProtocolHandle) {
    auto* protocol = static_cast<ProtocolBlock*>(ndisProtocolHandle);
    UnbindProtocol(protocol, nullptr);
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    for (auto& d : w.Drivers) {
        if (d->Protocol == protocol) d->Protocol = nullptr;
    }
    std::erase_if(w.Protocols, [&](const auto& p) { return p.get() == protocol; });
    *status = NDIS_STATUS_SUCCESS;
}

void NdisReEnumerateProtocolBindings(NDIS_HANDLE ndisProtocolHandle) {
    std::vector<ndis::media::LowerAdapter*> adapters;
    {
        std::lock_guard guard(TheWrapper().Lock);
        adapters = TheWrapper().Adapters;
    }
    for (ndis::media::LowerAdapter* a : adapters) {
        BindProtocol(static_cast<ProtocolBlock*>(ndisProtocolHandle), a);
    }
}

// Configuration: a handle holds the section and the parameters read through it.
namespace {

struct ConfigurationHandle {
    const ProtocolSection* Section;
    std::vector<std::unique_ptr<std::pair<NDIS_CONFIGURATION_PARAMETER, std::u16string>>> Read;
};

bool EqualsIgnoringCase(const std::u16string& a, const std::u16string& b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return lower(x) == lower(y);
           });
}

}  // namespace

void NdisOpenProtocolConfiguration(PNDIS_STATUS status, PNDIS_HANDLE configurationHandle,
                                   PNDIS_STRING protocolSection) {
    *configurationHandle = nullptr;
    if (protocolSection == nullptr) {
        *status = NDIS_STATUS_FAILURE;
        return;
    }
    // The section string is the first member of the section the bind call was given.
    auto* section = reinterpret_cast<const ProtocolSection*>(protocolSection);
    *configurationHandle = new ConfigurationHandle{section, {}};
    *status = NDIS_STATUS_SUCCESS;
}

void NdisReadConfiguration(PNDIS_STATUS status, PNDIS_CONFIGURATION_PARAMETER* parameterValue,
                           NDIS_HANDLE configurationHandle, PNDIS_STRING keyword,
                           NDIS_PARAMETER_TYPE parameterType) {
    *parameterValue = nullptr;
    auto* handle = static_cast<ConfigurationHandle*>(configurationHandle);
    const std::u16string& value = handle->Section->UpperBindings;
    if (parameterType != NdisParameterString || value.empty() ||
        !EqualsIgnoringCase(FromNdisString(keyword), u"UpperBindings")) {
        *status = NDIS_STATUS_FAILURE;
        return;
    }
    auto entry = std::make_unique<std::pair<NDIS_CONFIGURATION_PARAMETER, std::u16string>>();
    entry->second = value;
    entry->first.ParameterType = NdisParameterString;
    entry->first.ParameterData.StringData = StringView(entry->second);
    *parameterValue = &entry->first;
    handle->Read.push_back(std::move(entry));
    *status = NDIS_STATUS_SUCCESS;
}

void NdisCloseConfiguration(NDIS_HANDLE configurationHandle) {
    delete static_cast<ConfigurationHandle*>(configurationHandle);
}

void NdisInitUnicodeString(PNDIS_STRING string, const WCHAR* source) {
    USHORT length = 0;
    if (source != nullptr) {
        while (source[length / sizeof(WCHAR)] != u'\0') length += sizeof(WCHAR);
    }
    string->Length = length;
    string->MaximumLength = source != nullptr ? USHORT(length + sizeof(WCHAR)) : 0;
    string->Buffer = const_cast<PWSTR>(source);
}

namespace ndis::host {

NTSTATUS LoadDriver(DriverEntryRoutine entry) {
    Wrapper& w = TheWrapper();
    UNICODE_STRING registryPath;
    const NTSTATUS status = entry(&w.Driver, &registryPath);
    if (status != STATUS_SUCCESS) return status;
    std::vector<ProtocolBlock*> protocols;
    {
        std::lock_guard guard(w.Lock);
        for (auto& p : w.Protocols) protocols.push_back(p.get());
    }
    for (ProtocolBlock* p : protocols) NdisReEnumerateProtocolBindings(p);
    return status;
}

void UnloadDriver() {
    Wrapper& w = TheWrapper();
    UnbindProtocol(nullptr, nullptr);
    std::vector<void (*)()> unloads;
    PDRIVER_UNLOAD driverUnload;
    {
        std::lock_guard guard(w.Lock);
        for (auto& p : w.Protocols) {
            if (p->Chars.UnloadHandler != nullptr) unloads.push_back(p->Chars.UnloadHandler);
        }
        driverUnload = w.Driver.DriverUnload;
    }
    for (auto unload : unloads) unload();
    if (driverUnload != nullptr) driverUnload(&w.Driver);
    std::lock_guard guard(w.Lock);
    w.Driver.DriverUnload = nullptr;
}

void AddLowerAdapter(ndis::media::LowerAdapter* adapter) {
    Wrapper& w = TheWrapper();
    std::vector<ProtocolBlock*> protocols;
    {
        std::lock_guard guard(w.Lock);
        w.Adapters.push_back(adapter);
        for (auto& p : w.Protocols) protocols.push_back(p.get());
    }
    for (ProtocolBlock* p : protocols) BindProtocol(p, adapter);
}

void RemoveLowerAdapter(ndis::media::LowerAdapter* adapter) {
    UnbindProtocol(nullptr, adapter);
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    std::erase(w.Adapters, adapter);
}

void ReconfigureProtocols() {
    Wrapper& w = TheWrapper();
    std::vector<ProtocolBlock*> protocols;
    {
        std::lock_guard guard(w.Lock);
        for (auto& p : w.Protocols) protocols.push_back(p.get());
    }
    for (ProtocolBlock* p : protocols) {
        if (p->Chars.PnPEventHandler == nullptr) continue;
        NET_PNP_EVENT event;
        event.NetEvent = NetEventReconfigure;
        p->Chars.PnPEventHandler(nullptr, &event);
    }
}

}  // namespace ndis::host
