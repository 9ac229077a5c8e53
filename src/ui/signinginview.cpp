#include "ui/signinginview.h"

#include "ui/deviceauthorizationfallbackview.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessera {

SigningInView::SigningInView(AccountStore *store, OpenURLFunction openURL,
                             std::function<bool(const QString &)> copyToClipboard, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_userCode(new QLabel(this))
    , m_fallback(new DeviceAuthorizationFallbackView(std::move(openURL), std::move(copyToClipboard),
                                                     qtTrId("Open AWS verification page"), this))
{
    setObjectName(QStringLiteral("signingIn"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    auto *approve = new QLabel(qtTrId("Approve the sign-in in your browser."), this);
    approve->setAlignment(Qt::AlignCenter);
    layout->addWidget(approve);

    m_userCode->setObjectName(QStringLiteral("userCode"));
    m_userCode->setAlignment(Qt::AlignCenter);
    m_userCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(codeFont.pointSizeF() * 1.8);
    codeFont.setBold(true);
    m_userCode->setFont(codeFont);
    layout->addWidget(m_userCode);

    auto *verify =
        new QLabel(qtTrId("Verify this code matches the one shown on the AWS page."), this);
    verify->setAlignment(Qt::AlignCenter);
    verify->setWordWrap(true);
    verify->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(verify);

    auto *cancel = new QPushButton(qtTrId("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelSignIn"));
    // The store clears the fallback link and ends the running sign-in.
    connect(cancel, &QPushButton::clicked, m_store, &AccountStore::cancelSignIn);
    layout->addWidget(cancel, 0, Qt::AlignCenter);
    layout->addWidget(m_fallback);

    connect(m_store, &AccountStore::sessionChanged, this, &SigningInView::update);
    connect(m_store, &AccountStore::browserFallbackURLChanged, this, &SigningInView::update);
    update();
}

void SigningInView::update()
{
    m_userCode->setText(m_store->session().userCode());
    const QUrl fallback = m_store->browserFallbackURLOrEmpty();
    m_fallback->setUrl(fallback);
    m_fallback->setVisible(!fallback.isEmpty());
}

} // namespace tessera
