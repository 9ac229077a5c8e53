#pragma once

#include "accounts/accountstore.h"
#include "foundation/manualclock.h"
#include "quicksearch/quickswitcherkeys.h"
#include "quicksearch/quickswitchermodel.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace tessera::test {

inline QString s(const char *text)
{
    return QString::fromUtf8(text);
}

// alpha: two roles and two AWS profiles; bravo: one role; charlie: none; delta: three
// roles; echo-alpha: two.
inline QList<AWSAccount> sampleAccounts()
{
    return {
        {s("111111111111"), s("alpha"), {s("Admin"), s("ReadOnly")}},
        {s("222222222222"), s("bravo"), {s("Admin")}},
        {s("333333333333"), s("charlie"), {}},
        {s("444444444444"), s("delta"), {s("Deploy"), s("Admin"), s("ReadOnly")}},
        {s("555555555555"), s("echo-alpha"), {s("Admin"), s("Audit")}},
    };
}

// A real account store over a private data folder, in-memory settings and secure store;
// a Quick Search model over it whose callbacks (and the store's URL opener) write to
// `events`. Operations are run from short scripts and the outcome read as one line.
class QuickSearchFixture
{
    // First, so that they outlive the store and the model.
    QTemporaryDir m_dataHome;
    InMemoryKeychainStore m_keychain;

public:
    explicit QuickSearchFixture(const Organization &organization = {},
                                const QList<AWSAccount> &accounts = sampleAccounts())
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
        saveAccountCache({accounts, QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC)});
        saveOrganization(organization);
        settings = std::make_shared<InMemorySettingsStore>();
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), s("https://example.awsapps.com/start"));
        settings->setString(key(settingskey::ssoRegion), s("us-west-1"));
        AccountStoreServices services;
        services.clock = clock;
        const auto open = [this](const QUrl &url) {
            events.append(s("open ") + url.toString(QUrl::FullyEncoded));
            return true;
        };
        store = std::make_unique<AccountStore>(
            true, std::nullopt, TokenRefreshScheduler::fromClock(clock),
            Keychain(m_keychain.operations()), settings, open, services);
        QuickSwitcherCallbacks callbacks;
        callbacks.dismiss = [this] { events.append(s("dismiss")); };
        callbacks.awsProfileNames = [this](const QString &accountId,
                                           const std::optional<QString> &) {
            if (profileFailure) {
                throw Error(*profileFailure);
            }
            return accountId == s("111111111111") ? profileNames : QStringList();
        };
        callbacks.copyToPasteboard = [this](const QString &text) {
            events.append(s("copy ") + text);
            return clipboardWorks;
        };
        model = std::make_unique<QuickSwitcherModel>(*store, callbacks, clock);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<InMemorySettingsStore> settings;
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<QuickSwitcherModel> model;
    QStringList events;
    bool clipboardWorks = true;
    QStringList profileNames{s("alpha-admin"), s("alpha-readonly")};
    std::optional<QString> profileFailure;

    // Every row of the current list: title, then "/ subtitle", "= trailing", "#tag", "*"
    // for pinned, ">" for a chevron.
    QString listed() const
    {
        QStringList texts;
        for (const QuickSwitcherResultRow &row : model->rows()) {
            QString text = row.title;
            for (const auto &[mark, part] :
                 {std::pair{" / ", row.subtitle}, {" = ", row.trailing}, {" #", row.tag}}) {
                text += part ? s(mark) + *part : QString();
            }
            text += s(row.pinned ? " *" : "") + s(row.showChevron ? " >" : "");
            texts.append(text);
        }
        return texts.join(s("; "));
    }

    // "list #selection title [query] (flash)".
    QString state() const
    {
        const auto rows = model->rows();
        const int i = model->selection();
        QString text =
            QString::fromLatin1(QMetaEnum::fromType<QuickSwitcherModel::ListKind>().valueToKey(
                int(model->currentList()))) +
            s(" #") + QString::number(i) + u' ' +
            (i >= 0 && i < rows.size() ? rows.at(i).title : QString());
        text += model->query().isEmpty() ? QString() : s(" [") + model->query() + u']';
        return text + (model->flash() ? s(" (") + *model->flash() + u')' : QString());
    }

    // What the store keeps: "pin:<id or service>", "group:<name>", "<id>=<group>",
    // "<id>@<region>".
    QString organization() const
    {
        const Organization &o = store->organization();
        QStringList parts;
        for (const QString &pin : o.pinnedAccountIds + o.pinnedServiceNames) {
            parts.append(s("pin:") + pin);
        }
        for (const QString &group : o.groupNames) {
            parts.append(s("group:") + group);
        }
        for (auto it = o.accountGroups.cbegin(); it != o.accountGroups.cend(); ++it) {
            parts.append(it.key() + u'=' + it.value());
        }
        for (auto it = o.accountConsoleRegions.cbegin(); it != o.accountConsoleRegions.cend();
             ++it) {
            parts.append(it.key() + u'@' + it.value());
        }
        return parts.join(u' ');
    }

    // Runs "|"-separated steps: ">" drill in, "enter", "<" back, "esc", "bs" (Backspace on
    // an empty field), "home", "menu", "=text" types a query, "@state" checks that the state
    // starts so, "^Control+P:1" presses a key through the key table (modifiers by Qt's
    // name; the caret at the end of the field unless ":<position>", ":sel" for all text
    // selected, ":none" for no field; an unused key is an event); anything else selects the
    // row of that title. Answers what went wrong, or nothing.
    QString run(const QString &script)
    {
        QuickSwitcherModel &m = *model;
        const QMap<QString, std::function<void()>> operations{
            {s(">"), [&] { m.drillIn(); }},
            {s("enter"), [&] { m.activateSelection(); }},
            {s("<"), [&] { m.goBack(); }},
            {s("esc"), [&] { m.cancelOrBack(); }},
            {s("bs"), [&] { m.deleteBackwardOrBack(); }},
            {s("home"), [&] { m.resetToHome(); }},
            {s("menu"), [&] { m.openActionMenu(); }},
        };
        for (const QString &step : script.split(u'|', Qt::SkipEmptyParts)) {
            if (operations.contains(step)) {
                operations.value(step)();
            } else if (step.startsWith(u'=')) {
                m.setQuery(step.mid(1));
            } else if (step.startsWith(u'^')) {
                press(step.mid(1));
            } else if (step.startsWith(u'@') && !state().startsWith(step.mid(1))) {
                return s("at ") + step + s(" the state was ") + state();
            } else if (!step.startsWith(u'@') && !select(step)) {
                return s("no row ") + step + s(" in ") + state();
            }
        }
        return {};
    }

    void press(const QString &chord)
    {
        QStringList names = chord.section(u':', 0, 0).split(u'+');
        const QString key = s("Key_") + names.takeLast();
        const QString modifiers =
            names.isEmpty() ? s("NoModifier") : names.join(s("Modifier|")) + s("Modifier");
        const QString caret = chord.section(u':', 1);
        const int length = int(model->query().size());
        const SearchFieldCaret field{caret != s("none"),
                                     caret.isEmpty() || caret == s("sel") ? length : caret.toInt(),
                                     length, caret == s("sel")};
        if (!handleQuickSwitcherKey(
                *model, QMetaEnum::fromType<Qt::Key>().keyToValue(key.toLatin1().constData()),
                Qt::KeyboardModifiers(QMetaEnum::fromType<Qt::KeyboardModifiers>().keysToValue(
                    modifiers.toLatin1().constData())),
                field)) {
            events.append(s("unused ") + chord);
        }
    }

    bool select(const QString &title) const
    {
        const auto rows = model->rows();
        for (int i = 0; i < rows.size(); ++i) {
            if (rows.at(i).title == title) {
                model->setSelection(i);
                return true;
            }
        }
        return false;
    }
};

} // namespace tessera::test
