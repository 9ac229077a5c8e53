#pragma once

#include "accounts/accountstore.h"

#include <QUrl>
#include <QWidget>

class QLabel;

namespace tessera {

// Shown when the browser could not be opened for the verification page: a link to try
// again and the address itself, so that it can be copied by hand.
class DeviceAuthorizationFallbackView : public QWidget
{
    Q_OBJECT

public:
    DeviceAuthorizationFallbackView(OpenURLFunction openURL, QWidget *parent = nullptr);

    void setUrl(const QUrl &url);
    const QUrl &url() const { return m_url; }

private:
    OpenURLFunction m_openURL;
    QUrl m_url;
    QLabel *m_link;
    QLabel *m_address;
};

} // namespace tessera
