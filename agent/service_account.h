// The dedicated account that the agent's service runs as on Linux: made by
// `qln install` when missing, and used only when it can reach what the agent
// needs (its program, its INI file, its serial port).
#pragma once
#include <string>
#include <vector>

// A path and what the account must be able to do with it (access() modes:
// R_OK, W_OK, X_OK).
struct AccountNeed {
    std::string path;
    int mode;
};

// Makes `account` a system account (its own group, no home folder, no login
// shell, member of `extraGroup` when that group exists) unless it exists
// already. "" when the account is there, else why it is not.
std::string EnsureSystemAccount(const std::string& account, const std::string& extraGroup);

// The first path of `needs` that `account`, with its own group and
// `extraGroup`, cannot use as asked; "" when it can use them all. The check
// runs in a child that takes on the account. `error` says why the check
// itself could not be made (no such account, not root).
std::string FirstPathDenied(const std::string& account, const std::string& extraGroup,
                            const std::vector<AccountNeed>& needs, std::string& error);
