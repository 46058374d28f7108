#include "agent/instance_names.h"

#include "agent/qln_exception.h"

const char* const kAgentTemplateUnitName = "ombrex-quillon@.service";

std::string AgentServiceName(const std::string& instance) {
    return instance.empty() ? std::string(kAgentServiceName)
                            : std::string(kAgentServiceName) + " " + instance;
}

std::string EventSourceKey(const std::string& serviceName) {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + serviceName;
}

std::string AgentInstanceUnitName(const std::string& instance) {
    std::string unit = kAgentTemplateUnitName;
    return unit.insert(unit.find('@') + 1, instance);
}
