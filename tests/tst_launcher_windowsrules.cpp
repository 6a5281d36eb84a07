// The rules of the Windows layers that need no Windows: how DirectShow's capture devices are
// named, identified and numbered. The COM side only feeds them devices.
#include "VideoInputEnumerationWindows.h"

#include <QTest>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace VideoInputEnumerationWindows;

struct FakeDeviceData
{
    bool bindable = true;
    std::map<std::wstring, std::wstring> properties;
};

class FakeDevice final : public Device
{
public:
    FakeDevice(FakeDeviceData data, std::vector<std::wstring> &reads)
        : m_data(std::move(data)), m_reads(reads)
    {}

    bool bindProperties() override
    {
        m_bound = m_data.bindable;
        return m_bound;
    }

    std::optional<std::wstring> property(const wchar_t *name) override
    {
        if (!m_bound)
            return std::nullopt;
        m_reads.emplace_back(name);
        const auto found = m_data.properties.find(name);
        if (found == m_data.properties.end())
            return std::nullopt;
        return found->second;
    }

private:
    FakeDeviceData m_data;
    std::vector<std::wstring> &m_reads;
    bool m_bound = false;
};

class FakeEnumerator final : public DeviceEnumerator
{
public:
    explicit FakeEnumerator(std::vector<FakeDeviceData> devices, bool opens = true)
        : m_devices(std::move(devices)), m_opens(opens)
    {}

    bool open() override { return m_opens; }

    std::unique_ptr<Device> next() override
    {
        if (m_next >= m_devices.size())
            return nullptr;
        return std::make_unique<FakeDevice>(m_devices[m_next++], reads);
    }

    std::vector<std::wstring> reads;

private:
    std::vector<FakeDeviceData> m_devices;
    bool m_opens;
    std::size_t m_next = 0;
};

FakeDeviceData device(std::map<std::wstring, std::wstring> properties)
{
    return FakeDeviceData{true, std::move(properties)};
}

FakeDeviceData unbindableDevice()
{
    return FakeDeviceData{false, {{L"FriendlyName", L"Unreachable"}}};
}

} // namespace

class TestWindowsRules : public QObject
{
    Q_OBJECT

private slots:
    void enumerationFailureIsReportedOnce();
    void emptyCategoryListsNothing();
    void nameIsFriendlyNameElseDescription();
    void skippedDevicesDoNotTakeAnIndex();
    void identifierIsDevicePathElseName();
    void readsOnlyThePropertiesItNeeds();
};

void TestWindowsRules::enumerationFailureIsReportedOnce()
{
    FakeEnumerator enumerator({device({{L"FriendlyName", L"Camera"}})}, false);
    const Result result = listVideoInputs(enumerator);
    QVERIFY(result.inputs.empty());
    QVERIFY(result.problems == std::vector<Problem>{Problem::CannotEnumerate});
}

void TestWindowsRules::emptyCategoryListsNothing()
{
    FakeEnumerator enumerator({});
    const Result result = listVideoInputs(enumerator);
    QVERIFY(result.inputs.empty());
    QVERIFY(result.problems.empty());
}

void TestWindowsRules::nameIsFriendlyNameElseDescription()
{
    FakeEnumerator enumerator({
        device({{L"FriendlyName", L"USB Capture HDMI"}, {L"Description", L"Capture card"}}),
        device({{L"Description", L"Integrated webcam"}}),
    });
    const Result result = listVideoInputs(enumerator);
    QCOMPARE(result.inputs.size(), std::size_t(2));
    QVERIFY(result.inputs[0].name == L"USB Capture HDMI");
    QVERIFY(result.inputs[1].name == L"Integrated webcam");
    QVERIFY(result.problems.empty());
}

void TestWindowsRules::skippedDevicesDoNotTakeAnIndex()
{
    // The video capture back end numbers only the devices it can name, so a skipped device must
    // not shift the numbers of those after it.
    FakeEnumerator enumerator({
        device({{L"FriendlyName", L"First"}}),
        device({{L"DevicePath", L"\\\\?\\nameless"}}),
        unbindableDevice(),
        device({{L"FriendlyName", L"Second"}}),
        device({}),
        device({{L"Description", L"Third"}}),
    });
    const Result result = listVideoInputs(enumerator);
    QCOMPARE(result.inputs.size(), std::size_t(3));
    QVERIFY(result.inputs[0].name == L"First");
    QCOMPARE(result.inputs[0].index, 0);
    QVERIFY(result.inputs[1].name == L"Second");
    QCOMPARE(result.inputs[1].index, 1);
    QVERIFY(result.inputs[2].name == L"Third");
    QCOMPARE(result.inputs[2].index, 2);
    QVERIFY(result.problems ==
            (std::vector<Problem>{Problem::NoDeviceName, Problem::CannotBindToStorage,
                                  Problem::NoDeviceName}));
}

void TestWindowsRules::identifierIsDevicePathElseName()
{
    FakeEnumerator enumerator({
        device({{L"FriendlyName", L"Cam Link 4K"},
                {L"DevicePath", L"\\\\?\\usb#vid_0fd9&pid_0066#0001#{65e8773d}\\global"}}),
        device({{L"FriendlyName", L"OBS Virtual Camera"}}),
    });
    const Result result = listVideoInputs(enumerator);
    QCOMPARE(result.inputs.size(), std::size_t(2));
    QVERIFY(result.inputs[0].id == L"\\\\?\\usb#vid_0fd9&pid_0066#0001#{65e8773d}\\global");
    QVERIFY(result.inputs[1].id == L"OBS Virtual Camera");
}

void TestWindowsRules::readsOnlyThePropertiesItNeeds()
{
    // The list is polled every second on the GUI thread: a named device costs two reads.
    FakeEnumerator enumerator({
        device({{L"FriendlyName", L"A"}, {L"Description", L"a"}, {L"DevicePath", L"pa"}}),
        device({{L"Description", L"b"}}),
        device({}),
    });
    listVideoInputs(enumerator);
    const std::vector<std::wstring> expected{
        L"FriendlyName", L"DevicePath",                 // A
        L"FriendlyName", L"Description", L"DevicePath", // b
        L"FriendlyName", L"Description",                // nameless: no path read
    };
    QVERIFY(enumerator.reads == expected);
}

QTEST_APPLESS_MAIN(TestWindowsRules)
#include "tst_launcher_windowsrules.moc"
