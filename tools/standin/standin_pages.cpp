#include "standin.h"
#include "standin_p.h"

namespace tessera::standin {

namespace {

const char pageStyle[] = R"(<style>
body { font-family: system-ui, sans-serif; max-width: 40rem; margin: 3rem auto; color: #16191f; }
h1 { font-size: 1.4rem; } .code { font: 600 2rem monospace; letter-spacing: .15rem; }
button { font-size: 1rem; padding: .5rem 1.5rem; margin-right: .5rem; }
table { border-collapse: collapse; } td, th { text-align: left; padding: .3rem 1rem .3rem 0; }
.muted { color: #5f6b7a; }
</style>)";

HttpServerResponse htmlPage(const QString &title, const QString &content, int status = 200)
{
    HttpServerResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "no-store"}};
    response.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                    title.toHtmlEscaped().toUtf8() + "</title>" + pageStyle + "</head><body>" +
                    content.toUtf8() + "</body></html>\n";
    return response;
}

// The console deep link carries its request in the fragment, which browsers never send,
// so the page reads it on the client.
const char startPageContent[] = R"(<h1>AWS access portal (Tessera stand-in)</h1>
<div id="console" hidden>
  <p>A console sign-in was requested:</p>
  <table>
    <tr><th>Account</th><td id="account"></td></tr>
    <tr><th>Role</th><td id="role"></td></tr>
    <tr><th>Destination</th><td id="destination"></td></tr>
  </table>
</div>
<p id="idle" class="muted">Open a console deep link (this address followed by
<code>/#/console?account_id=…&amp;role_name=…&amp;destination=…</code>) to see what it asks for.</p>
<script>
function show() {
  const hash = window.location.hash;
  const match = hash.match(/^#\/console\?(.*)$/);
  document.getElementById('console').hidden = !match;
  document.getElementById('idle').hidden = !!match;
  if (!match) return;
  const params = new URLSearchParams(match[1]);
  document.getElementById('account').textContent = params.get('account_id') || '';
  document.getElementById('role').textContent = params.get('role_name') || '';
  document.getElementById('destination').textContent = params.get('destination') || '';
}
window.addEventListener('hashchange', show);
show();
</script>)";

} // namespace

HttpServerResponse StandIn::startPage() const
{
    return htmlPage(QStringLiteral("AWS access portal"), QString::fromUtf8(startPageContent));
}

HttpServerResponse StandIn::verificationPage(const HttpServerRequest &request) const
{
    const QString userCode = request.queryValue(QStringLiteral("user_code")).value_or(QString());
    const DeviceAuthorization *authorization = d->authorizationByUserCode(userCode);
    if (!authorization) {
        return htmlPage(QStringLiteral("Authorize request"),
                        QStringLiteral("<h1>Unknown code</h1><p>No sign-in request has the code "
                                       "<span class=\"code\">%1</span>.</p>")
                            .arg(userCode.toHtmlEscaped()),
                        404);
    }
    const QString clientName = d->clients.value(authorization->clientId).name;
    QString content = QStringLiteral("<h1>Authorize request</h1>"
                                     "<p><strong>%1</strong> asks to access your AWS accounts "
                                     "through <span class=\"muted\">%2</span>.</p>"
                                     "<p>Code: <span class=\"code\">%3</span></p>")
                          .arg(clientName.toHtmlEscaped(), authorization->startUrl.toHtmlEscaped(),
                               authorization->userCode.toHtmlEscaped());
    if (authorization->state == DeviceAuthorization::State::pending &&
        d->now() < authorization->expiresAtMs) {
        content += QStringLiteral("<form method=\"post\" action=\"/device\">"
                                  "<input type=\"hidden\" name=\"user_code\" value=\"%1\">"
                                  "<button name=\"decision\" value=\"approve\" "
                                  "id=\"approve\">Approve</button>"
                                  "<button name=\"decision\" value=\"deny\" "
                                  "id=\"deny\">Deny</button></form>")
                       .arg(authorization->userCode.toHtmlEscaped());
    } else {
        content += QStringLiteral("<p class=\"muted\">This request is no longer pending.</p>");
    }
    return htmlPage(QStringLiteral("Authorize request"), content);
}

HttpServerResponse StandIn::decide(const HttpServerRequest &request)
{
    const QList<QPair<QString, QString>> form = decodeFormEncoded(request.body);
    QString userCode;
    QString decision;
    for (const auto &[name, value] : form) {
        if (name == u"user_code") {
            userCode = value;
        } else if (name == u"decision") {
            decision = value;
        }
    }
    const bool approving = decision == u"approve";
    const bool done = approving ? approve(userCode) : decision == u"deny" && deny(userCode);
    if (!done) {
        return htmlPage(QStringLiteral("Authorize request"),
                        QStringLiteral("<h1>Nothing to decide</h1><p>The request with this code "
                                       "is unknown, expired or already decided.</p>"),
                        400);
    }
    return htmlPage(QStringLiteral("Authorize request"),
                    approving ? QStringLiteral("<h1>Request approved</h1><p>You can close this "
                                               "window and return to Tessera.</p>")
                              : QStringLiteral("<h1>Request denied</h1><p>You can close this "
                                               "window.</p>"));
}

} // namespace tessera::standin
