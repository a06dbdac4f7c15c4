// The user's settings of reachability checks: the ports of the TCP probes.
#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

// The ports a check probes when its echo request goes unanswered: the settings file's "checks/tcpPorts"
// (read once, then kept), or the defaults when the key is missing. Empty: no probes. Any thread.
std::vector<quint16> TcpProbePorts();
// 22, 80, 135, 139, 443, 445, 3389, 5900: remote shells, web, the ports Windows keeps open, remote desktops.
std::vector<quint16> DefaultTcpProbePorts();
// Writes the list to the settings file and uses it from now on. False when the file cannot be written.
bool SetTcpProbePorts(const std::vector<quint16>& ports);

// Whether a check can show any computer online: an ICMP socket opens, or the TCP probes are on. Opens the
// shared ICMP socket when it is not open yet. Any thread.
bool ChecksAvailable();

// Longest list a check probes: every port costs a connection per silent computer.
constexpr int MaxTcpProbePorts = 16;

// Reads "22, 80 3389": port numbers separated by commas or blanks; a port given twice counts once. False
// with the offending entry in *bad when one is no number from 1 to 65535 (*bad empty: too many ports).
bool ParsePortList(const QString& text, std::vector<quint16>* ports, QString* bad);
// The list as the settings file and the Options dialog write it: "22, 80, 3389".
QString PortListText(const std::vector<quint16>& ports);
