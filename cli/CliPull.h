#pragma once

// vorn-cli pull: the command around PullReceivedInvoices (received/ReceivedPull.h).

#include "received/ReceivedPull.h"

// The problem in vorn-cli's words.
QString PullProblemCliText(const TPullProblem& problem);
