#pragma once

// When the check timer's passes deserve a word on the desktop: at the first failure of a run of
// failures (backend unreachable, wrong credentials, an archive move that fails), and at the first
// pass that reached the backend again after them; never once per tick. A pass with nothing to
// send proves nothing either way and changes nothing.
class TCycleHealth
{
public:
    enum class TNotice
    {
        None,
        Failing,      // the first failure after passes that worked (or after the start)
        WorkingAgain, // the backend answered again after failures
    };

    TNotice PassFailed();
    // answered: what the pass returned, the invoices the backend accepted or refused.
    TNotice PassEnded(int answered);

    bool Failing() const { return FFailing; }

private:
    bool FFailing = false;
};
