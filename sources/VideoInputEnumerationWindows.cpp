#include "VideoInputEnumerationWindows.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dshow.h>
#include <oleauto.h>

#include <utility>

namespace VideoInputEnumerationWindows {

namespace {

// Holds one reference to a COM object and releases it.
template <class T> class ComReference
{
public:
    ComReference() = default;
    ~ComReference() { reset(); }
    ComReference(ComReference &&other) noexcept : m_object(std::exchange(other.m_object, nullptr))
    {}
    ComReference &operator=(ComReference &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    ComReference(const ComReference &) = delete;
    ComReference &operator=(const ComReference &) = delete;

    T *operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // For the functions that hand out a new reference.
    T **put()
    {
        reset();
        return &m_object;
    }
    void **putVoid() { return reinterpret_cast<void **>(put()); }

    void reset()
    {
        if (m_object != nullptr)
            m_object->Release();
        m_object = nullptr;
    }

private:
    T *m_object = nullptr;
};

class ComDevice final : public Device
{
public:
    explicit ComDevice(ComReference<IMoniker> moniker) : m_moniker(std::move(moniker)) {}

    bool bindProperties() override
    {
        return SUCCEEDED(
            m_moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, m_properties.putVoid()));
    }

    std::optional<std::wstring> property(const wchar_t *name) override
    {
        if (!m_properties)
            return std::nullopt;
        VARIANT value;
        VariantInit(&value);
        std::optional<std::wstring> result;
        if (SUCCEEDED(m_properties->Read(name, &value, nullptr)) && value.vt == VT_BSTR &&
            value.bstrVal != nullptr)
            result = std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
        VariantClear(&value);
        return result;
    }

private:
    ComReference<IMoniker> m_moniker;
    ComReference<IPropertyBag> m_properties;
};

class ComDeviceEnumerator final : public DeviceEnumerator
{
public:
    bool open() override
    {
        ComReference<ICreateDevEnum> deviceEnumerator;
        if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICreateDevEnum, deviceEnumerator.putVoid())))
            return false;
        // S_FALSE means the category is empty and no enumerator is handed out.
        return deviceEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                       m_monikers.put(), 0) == S_OK;
    }

    std::unique_ptr<Device> next() override
    {
        if (!m_monikers)
            return nullptr;
        ComReference<IMoniker> moniker;
        if (m_monikers->Next(1, moniker.put(), nullptr) != S_OK)
            return nullptr;
        return std::make_unique<ComDevice>(std::move(moniker));
    }

private:
    ComReference<IEnumMoniker> m_monikers;
};

} // namespace

Result enumerateVideoInputs()
{
    if (FAILED(CoInitialize(nullptr)))
        return {};
    Result result;
    {
        // Every COM reference is released before COM is uninitialised.
        ComDeviceEnumerator enumerator;
        result = listVideoInputs(enumerator);
    }
    CoUninitialize();
    return result;
}

} // namespace VideoInputEnumerationWindows
