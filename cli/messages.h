#ifndef MESSAGES_H
#define MESSAGES_H

#include "jobclass.h"
#include "jobsetup.h"
#include "programmingjob.h"

#include <QString>

#include <cstdio>

// Everything the tool says goes through these, so that each message is
// one flushed line: scripts read them line by line, often through a pipe.
void Say(FILE *stream, const QString &text);
// Says "tamrivo-cli: text" on standard error and gives back the status.
int Fail(int status, const QString &text);

QString ResultName(int linkResult);
// A link result as a failure message ends with it; a lost port, or the
// port of a device that kept talking out of turn, is named.
QString LinkFailure(int linkResult, const QString &port);

// A failure of the record store, as every message about one begins.
QString StoreFailure(const QString &error);

// The one-line account of a job that did not end in success; its exit
// status is OutcomeStatus's (jobclass.h).
QString OutcomeMessage(const JobOutcome &outcome, const QString &port);

#endif // MESSAGES_H
