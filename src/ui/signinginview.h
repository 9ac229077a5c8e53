#pragma once

#include "accounts/accountstore.h"

#include <QWidget>

class QLabel;

namespace tessera {

class DeviceAuthorizationFallbackView;

// The device sign-in in progress: the code to compare with the AWS page, a way out, and
// the verification link when the browser could not be opened.
class SigningInView : public QWidget
{
    Q_OBJECT

public:
    SigningInView(AccountStore *store, OpenURLFunction openURL,
                  std::function<bool(const QString &)> copyToClipboard, QWidget *parent = nullptr);

private:
    void update();

    AccountStore *m_store;
    QLabel *m_userCode;
    DeviceAuthorizationFallbackView *m_fallback;
};

} // namespace tessera
