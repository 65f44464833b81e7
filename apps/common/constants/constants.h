#pragma once
// Text constants shared with the unit's other programs: folders, file names and hardware-record keys.

struct Constants {
  // Hardware record keys (block fields).
  static constexpr const char* HWINFO_SERIAL = "serial";
  static constexpr const char* HWINFO_BOARD = "board";
  static constexpr const char* HWINFO_REVISION = "revision";
  static constexpr const char* HWINFO_K = "k";
  static constexpr const char* KNOB_POS_MIN = "knob_position_min";
  static constexpr const char* KNOB_POS_MAX = "knob_position_max";
  static constexpr const char* SLIDER_POS_MIN = "slider_position_min";
  static constexpr const char* SLIDER_POS_MAX = "slider_position_max";
  static constexpr const char* JOYSTICK_ZERO_POS_X = "zoom_zero_pos_x";
  static constexpr const char* JOYSTICK_ZERO_POS_Y = "zoom_zero_pos_y";
  static constexpr const char* VIBRATION_BEMF_GAIN = "bemf_gain";
  static constexpr const char* VIBRATION_CAL_COMP = "cal_comp";
  static constexpr const char* VIBRATION_CAL_BEMF = "cal_bemf";
  static constexpr const char* HWINFO_KNOB_LINEARIZATION = "knob_linearization";

  // Hardware record keys (boot-flag register).
  static constexpr const char* HWINFO_UPDATE_REQ = "update_requested";
  static constexpr const char* HWINFO_UNUSED = "unused";
  static constexpr const char* HWINFO_BOOT_FAILED = "boot_failed";
  static constexpr const char* HWINFO_BOOT_FAILED_COUNTER = "boot_failed_counter";

  // User file folders: LOCAL_FOLDER followed by one of the others.
  static constexpr const char* LOCAL_FOLDER = "/var/";
  static constexpr const char* TAB_FOLDER = "/MIB/";
  static constexpr const char* FOR_FOLDER = "/FOR/";
  static constexpr const char* SETUPS_FOLDER = "/SETUPS/";

  // Update files handed to the unit's updater.
  static constexpr const char* SUP_FILE = "/update/host.swu";
  static constexpr const char* CMF_FILE = "/update/client.cmf";
};
