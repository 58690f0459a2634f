#pragma once

// Keeps a flag set for the lifetime of a scope, restoring the old value: a
// nested wait that returns early still leaves the flag as it found it.
class FlagScope {
public:
    explicit FlagScope(bool &flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = old_; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &flag_;
    bool old_;
};
