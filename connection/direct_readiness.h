#pragma once

class QSocketNotifier;

// Readiness handed by an event dispatcher straight to the object that watches
// a notifier, where it would otherwise send the notifier its activation event
// for the notifier's signal to pass on. An event dispatcher that offers it
// (the runner's) implements TDirectReadiness; any other leaves notifiers as
// they are.
class TReadinessHandler {
public:
    // Called from the dispatcher's loop, where the activation would have been
    // delivered.
    virtual void Ready(QSocketNotifier* notifier) = 0;

protected:
    ~TReadinessHandler() = default;
};

class TDirectReadiness {
public:
    // From now on the activations of notifier go to handler instead; nullptr
    // returns them to the notifier. Cleared before the notifier is deleted.
    virtual void SetReadinessHandler(QSocketNotifier* notifier, TReadinessHandler* handler) = 0;

protected:
    ~TDirectReadiness() = default;
};
