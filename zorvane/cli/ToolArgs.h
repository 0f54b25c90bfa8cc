#pragma once
// The arguments of one sub-command: its options (long "--name", "--name=value" or
// "--name value", "-h" and the options' own short letters), wherever they stand, and its operands
// in order. "--" ends the options. An argument that the sub-command cannot take is a usage error:
// CUsageError, which main turns into exit status 2.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class CDriverContext;

class CUsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct ToolOption
{
    const char* pszName; // long name without "--"
    bool bTakesValue;
    char cShort = '\0'; // "-l" for "--long"; none when 0
};

class CToolArgs
{
public:
    // Every sub-command also takes --help (-h) and --simulate.
    CToolArgs(std::vector<std::string> args, const std::vector<ToolOption>& options);

    bool Has(const std::string& strOption) const;
    // The option's value, or strDefault when it was not given.
    std::string Value(const std::string& strOption, const std::string& strDefault) const;
    // Every value of a repeatable option, in the order given.
    std::vector<std::string> Values(const std::string& strOption) const;
    const std::vector<std::string>& Operands() const { return m_vecOperands; }

    // Usage errors when the operand count is outside nMin..nMax.
    void ExpectOperands(std::size_t nMin, std::size_t nMax, const char* pszWhat) const;

    // The driver context the run works on: the simulated bus (--simulate), or the default one
    // the library's exports use too, so that a run holds one driver layer.
    CDriverContext& Context() const { return *m_pContext; }
    void SetContext(std::shared_ptr<CDriverContext> pContext) { m_pContext = std::move(pContext); }

private:
    std::shared_ptr<CDriverContext> m_pContext;
    std::vector<std::pair<std::string, std::string>> m_vecGiven;
    std::vector<std::string> m_vecOperands;
};
