#include "ui/deviceauthorizationfallbackview.h"

#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

namespace tessera {

DeviceAuthorizationFallbackView::DeviceAuthorizationFallbackView(OpenURLFunction openURL,
                                                                 QWidget *parent)
    : QWidget(parent)
    , m_openURL(std::move(openURL))
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
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_link);
    layout->addWidget(m_address);
}

void DeviceAuthorizationFallbackView::setUrl(const QUrl &url)
{
    m_url = url;
    m_link->setText(QStringLiteral("<a href=\"open\">%1</a>")
                        .arg(qtTrId("Open AWS verification page").toHtmlEscaped()));
    m_address->setText(url.toString());
}

} // namespace tessera
