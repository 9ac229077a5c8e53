#include "ui/deviceauthorizationfallbackview.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessera {

DeviceAuthorizationFallbackView::DeviceAuthorizationFallbackView(OpenURLFunction openURL,
                                                                 CopyTextFunction copyToClipboard,
                                                                 QString linkTitle, QWidget *parent)
    : QWidget(parent)
    , m_openURL(std::move(openURL))
    , m_copyToClipboard(std::move(copyToClipboard))
    , m_linkTitle(std::move(linkTitle))
    , m_link(new QLabel(this))
    , m_address(new QLabel(this))
{
    setObjectName(QStringLiteral("deviceAuthorizationFallback"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_link->setObjectName(QStringLiteral("verificationLink"));
    m_link->setTextFormat(Qt::RichText);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(m_link, &QLabel::linkActivated, this, [this] {
        if (m_openURL && m_url.isValid()) {
            m_openURL(m_url);
        }
    });
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(mono.pointSizeF() * 0.85);
    m_address->setObjectName(QStringLiteral("verificationAddress"));
    m_address->setFont(mono);
    m_address->setWordWrap(true);
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(m_link);
    layout->addWidget(m_address);
    if (m_copyToClipboard) {
        auto *copy = new QPushButton(qtTrId("Copy Link"), this);
        copy->setObjectName(QStringLiteral("copyLink"));
        connect(copy, &QPushButton::clicked, this, [this, copy] {
            const bool copied = m_url.isValid() && m_copyToClipboard(m_url.toString());
            copy->setText(copied ? qtTrId("Copied") : qtTrId("Could not copy"));
        });
        layout->addWidget(copy, 0, Qt::AlignLeft);
        m_copy = copy;
    }
}

void DeviceAuthorizationFallbackView::setUrl(const QUrl &url)
{
    m_url = url;
    m_link->setText(QStringLiteral("<a href=\"open\">%1</a>").arg(m_linkTitle.toHtmlEscaped()));
    m_address->setText(url.toString());
    if (m_copy) {
        m_copy->setText(qtTrId("Copy Link"));
    }
}

} // namespace tessera
