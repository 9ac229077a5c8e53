// Input: the config text, optionally followed by a NUL byte and a block body. Checks that
// rendering a body never disturbs the text outside the block and reads back as written,
// and that planning over any file keeps the user's text and reproduces itself once applied.
#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/blockrendering.h"
#include "awsconfig/configtext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tessera;

namespace {
void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

bool decode(const QByteArray &bytes, QString &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    text = decoder.decode(bytes);
    return !decoder.hasError() && text.toUtf8() == bytes;
}

bool hasMarkerLine(const QString &body)
{
    for (const auto &line : AWSConfigDocument::lines(body)) {
        if (line.trimmedContent == QLatin1String(managedBlockStartMarker) ||
            line.trimmedContent == QLatin1String(managedBlockEndMarker)) {
            return true;
        }
    }
    return false;
}

void checkRendering(const QString &text, QString body)
{
    std::optional<AWSConfigDocument> document;
    try {
        document.emplace(text);
    } catch (const AWSConfigManagerError &) {
        return;
    }
    require(document->managedBody().has_value() == document->managedBlockRange().has_value(),
            "body and range go together");
    if (hasMarkerLine(configtext::trimLineBreaks(body))) {
        return; // Tessera never writes a marker inside its own block.
    }
    // Tessera writes its block with the file's own line breaks.
    const QString newline = document->newline();
    body.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\n'), newline);
    const QString rendered = document->renderedContents(body);
    const AWSConfigDocument reread(rendered);
    if (document->managedBlockRange()) {
        const auto range = *document->managedBlockRange();
        require(rendered.startsWith(text.first(range.begin)), "text before the block kept");
        require(rendered.endsWith(text.sliced(range.end)), "text after the block kept");
        require(reread.unmanaged() == document->unmanaged(), "same unmanaged text");
    } else {
        require(rendered.startsWith(text), "text kept when a block is appended");
        require(reread.unmanaged().startsWith(text), "appended block leaves the text");
    }
    const QString trimmed = configtext::trimLineBreaks(body);
    require(reread.managedBody() == (trimmed.isEmpty() ? QString() : trimmed + newline),
            "the body reads back");
    // A file ending in a lone carriage return gains a "\r\n" when a block is appended and
    // is written with those line breaks from then on; every other file keeps its own.
    if (reread.newline() == newline) {
        require(reread.renderedContents(body) == rendered, "rendering again changes nothing");
    }
}

QString scratchConfigPath()
{
    static const QString path = []() -> QString {
        const QString folder =
            QDir::tempPath() +
            QStringLiteral("/tessera-fuzz-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(folder);
        return folder + QStringLiteral("/config");
    }();
    return path;
}

void writeScratch(const QString &text)
{
    QFile file(scratchConfigPath());
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "scratch file opens");
    file.write(text.toUtf8());
}

void checkPlanning(const QString &text, bool granted)
{
    writeScratch(text);
    AWSConfigManagementSettings settings;
    settings.mode = granted ? AWSConfigManagementMode::granted : AWSConfigManagementMode::native;
    settings.customPath = scratchConfigPath();
    const QList<AWSAccount> accounts{
        AWSAccount{
            QStringLiteral("111111111111"), QStringLiteral("Dev"), {QStringLiteral("Admin")}},
        AWSAccount{QStringLiteral("222222222222"),
                   QStringLiteral("Prod Team"),
                   {QStringLiteral("ReadOnly"), QStringLiteral("Admin")}}};
    const QDateTime now(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    const QString startURL = QStringLiteral("https://corp.test/start");
    AWSConfigPlan plan;
    try {
        plan = AWSConfigManager::plan(accounts, startURL, QStringLiteral("us-east-1"), settings, {},
                                      true, now);
    } catch (const AWSConfigManagerError &) {
        return;
    }
    const AWSConfigDocument before(text);
    const AWSConfigDocument proposed(plan.proposedContents);
    if (before.managedBlockRange()) {
        require(proposed.unmanaged() == before.unmanaged(), "planning keeps the user's text");
    } else {
        require(plan.proposedContents.startsWith(text), "planning appends after the user's text");
    }
    if (proposed.newline() != before.newline()) {
        return;
    }
    writeScratch(plan.proposedContents);
    const AWSConfigPlan again =
        AWSConfigManager::plan(accounts, startURL, QStringLiteral("us-east-1"), settings,
                               plan.mappings, true, now.addDays(1));
    require(again.proposedContents == plan.proposedContents, "an applied plan reproduces itself");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    QString text;
    QString body = QStringLiteral("[profile a]\nsso_account_id = 111111111111");
    if (!decode(split < 0 ? input : input.first(split), text)) {
        return 0;
    }
    if (split >= 0 && !decode(input.sliced(split + 1), body)) {
        return 0;
    }
    checkRendering(text, body);
    checkRendering(text, renderBlockBody(body, std::nullopt, QStringLiteral("\n"), QDateTime()));
    checkPlanning(text, size % 2 == 1);
    return 0;
}
