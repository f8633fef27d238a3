#pragma once

#include <QString>
#include <QStringList>

namespace kc {

// Exit status of kc4420-gateway.
namespace GatewayExit {
inline constexpr int ok = 0;
inline constexpr int failed = 1;    // the broker connection could not be set up
inline constexpr int badConfig = 2; // a bad configuration or command line; nothing started
} // namespace GatewayExit

// The journal's priorities the service logs at.
namespace LogPriority {
inline constexpr int error = 3;
inline constexpr int warning = 4;
inline constexpr int info = 6;
} // namespace LogPriority

// One line for the service's log on stderr. Under systemd, with stderr going
// to the journal, it starts with the journal's "<N>" priority.
void serviceLog(int priority, const QString &text);

// kc4420-gateway's command line: --check FILE, --config FILE, --help,
// --version. Needs a QCoreApplication; runs its event loop with --config
// until SIGTERM or SIGINT.
int gatewayMain(const QStringList &arguments, const QString &version);

} // namespace kc
