#pragma once

#include "accounts/accountstore.h"

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace tessera {

// Writes plain text to the clipboard; false when the clipboard refused it.
using CopyTextFunction = std::function<bool(const QString &)>;

// Shown when the browser could not be opened for a link (the verification page, a console
// link): a link to try again, the address itself, selectable, and "Copy Link".
class DeviceAuthorizationFallbackView : public QWidget
{
    Q_OBJECT

public:
    DeviceAuthorizationFallbackView(OpenURLFunction openURL, CopyTextFunction copyToClipboard,
                                    QString linkTitle, QWidget *parent = nullptr);

    void setUrl(const QUrl &url);
    const QUrl &url() const { return m_url; }

private:
    OpenURLFunction m_openURL;
    CopyTextFunction m_copyToClipboard;
    QString m_linkTitle;
    QUrl m_url;
    QLabel *m_link;
    QLabel *m_address;
    QPushButton *m_copy = nullptr;
};

} // namespace tessera
