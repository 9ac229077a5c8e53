#pragma once

#include <QString>

namespace tessera {

// The sign-in state the views show.
class AccountStoreSession
{
public:
    enum class Case
    {
        signedOut,
        signingIn,
        signedIn
    };

    AccountStoreSession() = default;
    static AccountStoreSession signedOut() { return {}; }
    static AccountStoreSession signingIn(QString userCode)
    {
        return AccountStoreSession(Case::signingIn, std::move(userCode));
    }
    static AccountStoreSession signedIn() { return AccountStoreSession(Case::signedIn, {}); }

    Case state() const { return m_case; }
    bool isSignedOut() const { return m_case == Case::signedOut; }
    bool isSigningIn() const { return m_case == Case::signingIn; }
    bool isSignedIn() const { return m_case == Case::signedIn; }
    // The code to show while signing in; empty otherwise.
    const QString &userCode() const { return m_userCode; }

    bool operator==(const AccountStoreSession &other) const
    {
        return m_case == other.m_case &&
               (m_case != Case::signingIn || m_userCode == other.m_userCode);
    }

private:
    AccountStoreSession(Case c, QString code)
        : m_case(c)
        , m_userCode(std::move(code))
    {}
    Case m_case = Case::signedOut;
    QString m_userCode;
};

} // namespace tessera
