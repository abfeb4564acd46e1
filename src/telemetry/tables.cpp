#include "telemetry/tables.h"

namespace ostrel {

bool isValidType(int type) {
    return type >= 0 && type < telemetry_type_count;
}

bool isValidSpeed(int speedIndex) {
    return speedIndex >= 0 && speedIndex < speed_count;
}

bool isPlainType(int type) {
    return isValidType(type) && type < first_steering_type;
}

bool isSteeringType(int type) {
    return isValidType(type) && type >= first_steering_type;
}

bool hasAccelerations(int type) {
    return isSteeringType(type) && type < first_module_type;
}

int steeringLayout(int type) {
    return isSteeringType(type) ? type - first_steering_type : -1;
}

int32_t fullScale(int chartItem, int type) {
    if (chartItem < 0 || chartItem >= scaled_chart_item_count || !isValidType(type)) {
        return default_full_scale;
    }
    return full_scale_table[chartItem][type];
}

}  // namespace ostrel
