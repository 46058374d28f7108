#include "agent/instance_names.h"

#include "platform/product_names.h"

std::string AgentServiceName(const std::string& instance) {
    return instance.empty() ? std::string(plat::kAgentServiceName)
                            : std::string(plat::kAgentServiceName) + " " + instance;
}

std::string EventSourceKey(const std::string& serviceName) {
    return plat::kEventSourcesKey + serviceName;
}

std::string AgentInstanceUnitName(const std::string& instance) {
    std::string unit = plat::kAgentTemplateUnitName;
    return unit.insert(unit.find('@') + 1, instance);
}
