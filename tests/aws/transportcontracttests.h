#pragma once

#include "aws/httptransport.h"
#include "tlstestserver.h"

#include <QObject>
#include <functional>
#include <memory>

namespace tessera::test {

// What every production HttpTransport must do against a real TLS server on 127.0.0.1:
// verify certificates, honour AWS_CA_BUNDLE and the proxy variables, return every status
// and redirect as an answer, time out stalled transfers and abort on cancellation. Each
// transport's test runs it with its own factory.
class TransportContractTests : public QObject
{
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<HttpTransport>()>;
    TransportContractTests(Factory factory, const TestCertificates &certificates)
        : m_make(std::move(factory))
        , m_certificates(certificates)
    {}

private Q_SLOTS:
    void init();
    void refusesAnUntrustedCertificate();
    void acceptsItWithTheCaBundleAndReturnsEveryStatus_data();
    void acceptsItWithTheCaBundleAndReturnsEveryStatus();
    void doesNotFollowRedirects();
    void refusesACertificateForAnotherName();
    void unreadableCaBundleFailsEveryRequest();
    void stalledTransferTimesOut();
    void cancellationAbortsTheRequestInFlight();
    void refusedConnectionIsATransportError();
    void httpsProxyFromTheEnvironmentIsUsedUnlessBypassed();

private:
    bool startServer(TlsTestServer &server);

    Factory m_make;
    const TestCertificates &m_certificates;
};

// The main of a transport's test: makes the certificates, runs the contract with
// `factory`, then `more`; returns the number of failures.
int runTransportTests(int argc, char **argv, TransportContractTests::Factory factory,
                      const std::function<int(const TestCertificates &)> &more);

} // namespace tessera::test
