#pragma once
// Home Assistant's MQTT discovery for one board: a device (identifiers, serial number, firmware
// version, model "Kelvard I/O"), a switch per output pin, a binary_sensor per input pin and a
// sensor per enabled analog input, each with a stable unique_id and both availability topics
// (the gateway's and the board's). The entity a pin or channel does not have now is removed by
// an empty retained message on its config topic, so a direction change moves a pin from one
// component to the other. Topics are absolute.
#include "zorvane/cli/MqttBoard.h"

#include <string>

// strBase: the gateway's topics ("kelvard/host"); strPrefix: the discovery prefix
// ("homeassistant").
MqttMessages DiscoveryMessages(const CMqttBoard& board, const std::string& strBase,
                               const std::string& strPrefix);
