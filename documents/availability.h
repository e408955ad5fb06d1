#pragma once

namespace corvalen {

class Prompter;

/// What the availability checks ask of a document engine.
class DocumentEngineStatus
{
public:
    virtual ~DocumentEngineStatus() = default;
    /// Whether the engine can start (false when, for example, a reader library fails to load).
    virtual bool canStart() const = 0;
    /// Whether another instance holds something that a run would disturb.
    virtual bool isRunning() const = 0;
};

/// The built-in engine: it starts in-process whenever its readers initialise, and nothing
/// outside the program can hold it, so it is never "running" elsewhere.
class BuiltInEngineStatus : public DocumentEngineStatus
{
public:
    bool canStart() const override;
    bool isRunning() const override { return false; }
};

/// At start-up: tells the user when the document engine cannot be started; nothing else.
void checkWordInstalled(const DocumentEngineStatus &engine, Prompter &prompter);
/// Whether another instance of the engine is running; every failure counts as not running.
bool isWordRunning(const DocumentEngineStatus &engine);
/// Before a run: when the engine is running elsewhere, asks whether to go on. True when the run
/// must stop.
bool warnWordOpen(const DocumentEngineStatus &engine, Prompter &prompter);

} // namespace corvalen
