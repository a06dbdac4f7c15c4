#pragma once

#include <QString>
#include <QStringList>

// Runs a command and returns its exit code (output is captured into *output when given).
int RunCommand(const QString& program, const QStringList& args, QString* output = nullptr,
               int timeoutMs = 30000);

// A network namespace that the test creates and removes again. Names are made unique per process.
class TTestNamespace
{
public:
    explicit TTestNamespace(const QString& stem);
    ~TTestNamespace();
    TTestNamespace(const TTestNamespace&) = delete;
    TTestNamespace& operator=(const TTestNamespace&) = delete;

    bool Ok() const { return FOk; }
    const QString& Name() const { return FName; }
    // Runs a command inside the namespace.
    int Exec(const QStringList& command, QString* output = nullptr, int timeoutMs = 30000) const;

    // Whether this machine lets the tests create namespaces at all (root, iproute2); the reason if not.
    static bool Available(QString* reason = nullptr);

private:
    QString FName;
    bool FOk = false;
};

// Joins two namespaces (or a namespace and the test's own, when one is null) with a veth pair and gives
// each end an address in CIDR form ("10.77.1.1/24"). Addresses must stay inside the test's namespaces.
bool ConnectVeth(const TTestNamespace* a, const QString& addressA, const TTestNamespace* b,
                 const QString& addressB, QString* error = nullptr);
