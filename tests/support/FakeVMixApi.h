#pragma once

#include "FakeHttpServer.h"

// vMix's HTTP API as the poller sees it: every GET gets the current XML document, or is held
// unanswered while holdAnswers is set.
class FakeVMixApi : public FakeHttpServer
{
    Q_OBJECT

public:
    explicit FakeVMixApi(QObject *parent = nullptr) : FakeHttpServer(parent) {}

    void setXml(const QByteArray &xml) { m_xml = xml; }
    void setStatus(int status) { m_status = status; }
    void setHoldAnswers(bool hold) { m_hold = hold; }
    // "http://127.0.0.1:PORT/api/"
    [[nodiscard]] QString endpoint() const { return url() + QStringLiteral("/api/"); }

protected:
    FakeHttpResponse respond(const FakeHttpRequest &) override
    {
        FakeHttpResponse response;
        response.status = m_status;
        response.body = m_xml;
        response.contentType = "text/xml";
        response.hold = m_hold;
        return response;
    }

private:
    QByteArray m_xml = "<vmix><version>27.0.0.49</version></vmix>";
    int m_status = 200;
    bool m_hold = false;
};
