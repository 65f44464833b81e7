"""The facts the catalogue must meet, stated independently of its source (gen/catalogue.txt).

The source is the design; these are the requirements the design is checked against by
catalogue_validation. Change them only when the unit's shared layout changes.
"""

# (name, payload bytes, row count), in memory-index order.
MEMORIES = [
    ('MemPersistent', 1136, 140),
    ('MemDynamic', 432, 92),
    ('MemDistanceMeasure', 3588, 90),
    ('MemCamera', 139120, 112),
    ('MemStatic', 252, 11),
    ('MemLens', 61244, 33),
    ('MemLensMarkers', 15, 15),
    ('MemExternalDevices', 3708, 31),
    ('MemMotors', 684, 52),
    ('MemHwControl', 7232, 37),
    ('MemBluetooth', 520, 5),
    ('MemGuiLocal', 14008, 177),
    ('MemServiceMode', 2844, 36),
    ('MemDeviceState', 24, 12),
    ('MemMedia', 20396, 15),
    ('MemUserSetups', 476, 11),
    ('MemLensProgramming', 156, 38),
    ('MemTestautomation', 28, 8),
    ('MemDebug', 360, 1),
    ('MemApp', 68, 17),
]

TYPE_ORDER = ("bool", "int", "float", "string", "buffer", "enum", "struct")
# Rows per memory and base type, in TYPE_ORDER.
TYPE_COUNTS = {
    'MemPersistent': (35, 19, 46, 9, 0, 29, 2),
    'MemDynamic': (19, 15, 38, 3, 0, 17, 0),
    'MemDistanceMeasure': (28, 12, 31, 6, 1, 11, 1),
    'MemCamera': (31, 33, 10, 7, 2, 14, 15),
    'MemStatic': (4, 0, 0, 6, 0, 1, 0),
    'MemLens': (19, 2, 2, 3, 0, 1, 6),
    'MemLensMarkers': (15, 0, 0, 0, 0, 0, 0),
    'MemExternalDevices': (12, 8, 4, 3, 0, 3, 1),
    'MemMotors': (25, 10, 0, 0, 0, 11, 6),
    'MemHwControl': (8, 19, 3, 4, 0, 1, 2),
    'MemBluetooth': (3, 1, 0, 0, 0, 0, 1),
    'MemGuiLocal': (83, 36, 15, 10, 5, 26, 2),
    'MemServiceMode': (13, 5, 0, 11, 0, 6, 1),
    'MemDeviceState': (9, 1, 0, 0, 0, 2, 0),
    'MemMedia': (6, 3, 0, 2, 0, 2, 2),
    'MemUserSetups': (7, 2, 0, 1, 0, 0, 1),
    'MemLensProgramming': (22, 3, 4, 3, 0, 6, 0),
    'MemTestautomation': (4, 0, 4, 0, 0, 0, 0),
    'MemDebug': (0, 0, 0, 0, 0, 0, 1),
    'MemApp': (0, 0, 0, 0, 0, 17, 0),
}
TYPE_TOTALS = (343, 169, 157, 68, 8, 147, 41)
ROW_TOTAL = 933
SINGLE_STRUCTURES, STRUCTURE_ARRAYS = 11, 30

# Row names per memory, in catalogue order (not always byte order).
ROW_NAMES = {
    'MemPersistent': [
        'AUXTorque', 'BluetoothPower', 'ButtonBrightness', 'ButtonsLocked', 'RirezuveDisplayModeValue',
        'RirezuveTorque', 'CircleofConfusion', 'CtmDampFactor', 'DMDTorque', 'DisableForcePad',
        'DisableTouchscreen', 'DisplayBrightness', 'DisplayBrightnessAuto', 'DisplayUnit',
        'EnableNextSupFeatures', 'EndSlateVibrationEnable', 'FocusTableHidden', 'FocusTableInverted',
        'FocusTorque', 'ForcePadAssignment', 'ForcePadLock', 'ForcePadReverse', 'ForcePadSpeed', 'FuncDax',
        'GuiDesignIsNightStyle', 'GuiRotate', 'IrisScaleSide', 'IrisTableHidden', 'IrisTableInverted',
        'IrisTorque', 'KnobAssignment', 'KnobBrightness', 'KnobColor', 'KnobLock', 'KnobReverse',
        'LandingPage', 'Language', 'LastKnownFocusValue', 'LastKnownIrisValue', 'LastKnownZoomValue',
        'LedRunBrightness', 'LensFileFavouriteFolder', 'LensFileTransferCalibrate', 'LensMarkerAbsFocusValue0',
        'LensMarkerAbsFocusValue1', 'LensMarkerAbsFocusValue2', 'LensMarkerAbsFocusValue3',
        'LensMarkerAbsFocusValue4', 'LensMarkerAbsFocusValue5', 'LensMarkerAbsFocusValue6',
        'LensMarkerAbsFocusValue7', 'LensMarkerAbsIrisValue0', 'LensMarkerAbsIrisValue1',
        'LensMarkerAbsIrisValue2', 'LensMarkerAbsIrisValue3', 'LensMarkerAbsIrisValue4',
        'LensMarkerAbsIrisValue5', 'LensMarkerAbsIrisValue6', 'LensMarkerAbsIrisValue7',
        'LensMarkerColorExternal', 'LensMarkerColorInternal', 'LensMarkerFocusValue0', 'LensMarkerFocusValue1',
        'LensMarkerFocusValue2', 'LensMarkerFocusValue3', 'LensMarkerFocusValue4', 'LensMarkerFocusValue5',
        'LensMarkerFocusValue6', 'LensMarkerFocusValue7', 'LensMarkerIrisValue0', 'LensMarkerIrisValue1',
        'LensMarkerIrisValue2', 'LensMarkerIrisValue3', 'LensMarkerIrisValue4', 'LensMarkerIrisValue5',
        'LensMarkerIrisValue6', 'LensMarkerIrisValue7', 'LensMarkerVibrationEnable', 'LensMarkerVibrationType',
        'LensMarkerZoomValue0', 'LensMarkerZoomValue1', 'LensMarkerZoomValue2', 'LensMarkerZoomValue3',
        'LensMarkerZoomValue4', 'LensMarkerZoomValue5', 'LensMarkerZoomValue6', 'LensMarkerZoomValue7',
        'MenuScrollSpeed', 'MruLensFileList', 'MruLensFileListSize', 'NudgeVibrationEnable',
        'NudgeVibrationType', 'OverrideVibrationEnable', 'OverrideVibrationType', 'PreMarkedEnumImperial',
        'PreMarkedEnumMetric', 'PreMarkedIrisAutoDet', 'PreMarkedIrisEnd', 'PreMarkedIrisHasClose',
        'PreMarkedIrisOpen', 'PreMarkedRingAutoDet', 'PreMarkedRingFeet', 'PreMarkedRingInch',
        'PreMarkedRingMeter', 'ProductName', 'ProductVersion', 'RadioBoost', 'RadioModuleList', 'RadioPower',
        'RecentLensFiles', 'RecordingVibrationEnable', 'RecordingVibrationType', 'ScreenSaverMode',
        'ScreenSaverSpeed', 'SliderAssignment', 'SliderLock', 'SliderReverse', 'SoundMute', 'SoundType',
        'SoundVolume', 'StealthMode', 'UserButton1', 'UserButton2', 'UserButton3', 'UserButton4',
        'UserButton4_Name', 'UserButton5', 'UserButton5_Name', 'UserButton6', 'UserButton6_Name',
        'UserButton7', 'UserButton7_Name', 'UserButton8', 'UserButton8_Name', 'UserButton9',
        'UserButton9_Name', 'UserButtonVibrationEnable', 'ZoomTableHidden', 'ZoomTableInverted', 'ZoomTorque',
    ],
    'MemDynamic': [
        'AUXActPosNorm', 'AuxTargetValue', 'AxialEffFocalLength', 'BattChargeVoltage', 'BattCurrent',
        'BattPercent', 'BattStatus', 'BattTemperature', 'BattVoltage', 'ButtonPower', 'ButtonRecord',
        'CanConnectState', 'ContainerTransferProgress', 'ContainerTransferState', 'DataSource',
        'DataSourceSet', 'DisplayUnitConversion', 'DofFarValue', 'DofNearValue', 'EndSlateModeActive',
        'EntrancePupil', 'ExternalDevicesStealthMode', 'ExternalDevicesStealthModeAvailable',
        'ExternalZoomSteering', 'ExternalZoomValue', 'FocalLength', 'FocusActPosNorm', 'FocusOffsetPressed',
        'FocusTargetValue', 'FocusTrackingActive', 'GlobalUnit', 'GlobalUnitEnabled', 'IrisActPosNorm',
        'IrisOffsetPressed', 'IrisTargetValue', 'JoystickControlsGui', 'JoystickX', 'JoystickY', 'Knob',
        'LensActFocus', 'LensActIris', 'LensExtenderFocalLengthMulti', 'LensExtenderLightLoss',
        'LensExtenderLongDescr', 'LensExtenderPhysicalLength', 'LensExtenderSerialNr',
        'LensExtenderShortDescr', 'LostFrameCounter', 'ModemManagerIsSuspended',
        'MotorcontrollerRemoteControl', 'OnewireDisconnectModem', 'OverrideAuxForGui', 'OverrideAuxToCam',
        'OverrideFocusForGui', 'OverrideFocusToCam', 'OverrideIrisForGui', 'OverrideIrisToCam',
        'OverrideZoomForGui', 'OverrideZoomToCam', 'PerformRadioRssiScan', 'PowerState', 'PreMarkedValueValid',
        'RadioAnimTimerCount', 'RadioChannel', 'RadioClientNr', 'RadioLinkQuality', 'RadioRSSI', 'RadioRegion',
        'RadioRssiScanResultsCh0', 'RadioRssiScanResultsCh1', 'RadioRssiScanResultsCh10',
        'RadioRssiScanResultsCh11', 'RadioRssiScanResultsCh12', 'RadioRssiScanResultsCh13',
        'RadioRssiScanResultsCh2', 'RadioRssiScanResultsCh3', 'RadioRssiScanResultsCh4',
        'RadioRssiScanResultsCh5', 'RadioRssiScanResultsCh6', 'RadioRssiScanResultsCh7',
        'RadioRssiScanResultsCh8', 'RadioRssiScanResultsCh9', 'RadioState', 'RecButtonPressed', 'Slider',
        'SuspendModemManager', 'VoltageBattery', 'VoltageIntermediate', 'VoltagePelt', 'ZoomActPosNorm',
        'ZoomOffsetPressed', 'ZoomTargetValue',
    ],
    'MemDistanceMeasure': [
        'CdmAddDistanceValue', 'CdmAutoValue', 'CdmCoordinatesList', 'CdmCoordinatesListSize',
        'CdmDataPointIndex', 'CdmDataPointValue', 'CdmDisplayMax', 'CdmDisplayMin', 'CdmFarDistance',
        'CdmMeasuredDistance', 'CdmNearDistance', 'CdmNrOfIntervals', 'CdmRequestPacket', 'CtmDistanceFeet',
        'CtmDistanceInch', 'CtmDistanceMeter', 'CtmState', 'Dmd1PosNorm', 'Dmd2PosNorm', 'DmdActiveSource',
        'DmdSource', 'DmdSourceSwitchDisabled', 'DmdTargetValue', 'DmdType1', 'DmdType1Set', 'DmdType2',
        'DmdType2Set', 'DmdTypeBottom', 'DmdTypeFlags', 'DmdTypeSwitchNext', 'DmdTypeTop',
        'DoderOdeClearLimits', 'DoderOdeClearLockout', 'DoderOdeCommitLimits', 'DoderOdeCommitLockouts',
        'DoderOdeCrossoverDistance', 'DoderOdeCrossoverDistanceSet', 'DoderOdeCrossoverMode',
        'DoderOdeCrossoverModeSet', 'DoderOdeDeviceCount', 'DoderOdeDualMode', 'DoderOdeDualModeSet',
        'DoderOdeFieldOfView', 'DoderOdeFieldOfViewSet', 'DoderOdeLimitActive', 'DoderOdeLimitActiveSet',
        'DoderOdeLimitsIcon', 'DoderOdeLockoutActive', 'DoderOdeLockoutActiveSet', 'DoderOdeLockoutIcon',
        'DoderOdeLowerLimit', 'DoderOdeLowerLimitSet', 'DoderOdeLowerLockout', 'DoderOdeLowerLockoutSet',
        'DoderOdeMarkerClearAllValue', 'DoderOdeMarkerClearIndex', 'DoderOdeMarkerValue0',
        'DoderOdeMarkerValue1', 'DoderOdeMarkerValue2', 'DoderOdeMarkerValue3', 'DoderOdeMarkerValue4',
        'DoderOdeMarkerValue5', 'DoderOdeMarkerValue6', 'DoderOdeMarkerValue7', 'DoderOdePlaneOffset',
        'DoderOdePlaneOffsetSet', 'DoderOdeSensitivity', 'DoderOdeSensitivitySet',
        'DoderOdeSwitchSourceAndFOV', 'DoderOdeSwitchToNextSource', 'DoderOdeSyncMode', 'DoderOdeSyncModeSet',
        'DoderOdeUICrossoverDistance', 'DoderOdeUIDecrement', 'DoderOdeUIDecrementPossible',
        'DoderOdeUIEditConfirm', 'DoderOdeUIEditFeet', 'DoderOdeUIEditInch', 'DoderOdeUIEditMeter',
        'DoderOdeUIIncrement', 'DoderOdeUIIncrementPossible', 'DoderOdeUILowerLimit', 'DoderOdeUILowerLockout',
        'DoderOdeUIPlaneOffset', 'DoderOdeUIUpperLimit', 'DoderOdeUIUpperLockout', 'DoderOdeUpperLimit',
        'DoderOdeUpperLimitSet', 'DoderOdeUpperLockout', 'DoderOdeUpperLockoutSet',
    ],
    'MemCamera': [
        'CamBeepEnabled', 'CamCalAllMotorsEnabled', 'CamClipList0', 'CamClipList0EnabledFlags',
        'CamClipList0MediumName', 'CamClipList0Size', 'CamClipList1', 'CamClipList1EnabledFlags',
        'CamClipList1MediumName', 'CamClipList1Size', 'CamClipListAct', 'CamClipListClipAct',
        'CamClipListClipSet', 'CamClipListLastClip', 'CamClipListNumber', 'CamClipListPlayable',
        'CamClipListPlaybackStop', 'CamClipListProgress', 'CamClipListSet', 'CamClipPlay', 'CamClipPlayStatus',
        'CamClipPlaybackSpeed', 'CamClipSelectNext', 'CamClipSelectPrevious', 'CamDataAvailable',
        'CamExposureIndexAct', 'CamExposureIndexList', 'CamExposureIndexListSize', 'CamExposureIndexSet',
        'CamExposureTimeAct', 'CamExposureTimeCustomSet', 'CamExposureTimeList', 'CamExposureTimeListSize',
        'CamExposureTimeSet', 'CamExposureTimeValid', 'CamFWVersion', 'CamFocalLength', 'CamFocusDistanceFeet',
        'CamFocusDistanceInch', 'CamFocusDistanceMeter', 'CamFootage', 'CamFootageUnit', 'CamHighSpeedModeAct',
        'CamHighSpeedModeSet', 'CamHighSpeedModeSupport', 'CamIndex', 'CamLensFileTransferSupport',
        'CamLensType', 'CamLiveCamInfoList', 'CamLiveCamInfoListSize', 'CamMediaCodec',
        'CamMonOutFunctionList', 'CamMonOutList', 'CamMonOutListSize', 'CamNdFilterAct',
        'CamNdFilterActString', 'CamNdFilterList', 'CamNdFilterListSize', 'CamNdFilterSet',
        'CamPlaybackFastForwardAvailable', 'CamRemainingTimeWarning', 'CamSDIExposureTool',
        'CamSDIExposureToolToggle', 'CamSDIFramelines', 'CamSDIFramelinesToggle', 'CamSDIPeaking',
        'CamSDIPeakingToggle', 'CamSDIStatusInfoAct', 'CamSDIStatusInfoSet', 'CamSDISurroundView',
        'CamSDISurroundViewDisable', 'CamSDISurroundViewToggle', 'CamShutterAct', 'CamShutterCustomSet',
        'CamShutterList', 'CamShutterListSize', 'CamShutterSet', 'CamSpeedAct', 'CamSpeedCustomSet',
        'CamSpeedList', 'CamSpeedListSize', 'CamSpeedSet', 'CamState', 'CamSupply', 'CamSupplyUnit0',
        'CamSupplyUnit1', 'CamSupplyUnit2', 'CamSupplyUnit3', 'CamTStopString', 'CamType', 'CamUnit',
        'CamUserButton1Set', 'CamUserButton2Set', 'CamUserButton3Set', 'CamUserButton4Set',
        'CamUserButton5Set', 'CamUserButton6Set', 'CamUserButtons', 'CamUserButtonsNumber',
        'CamUserSetupDescList', 'CamUserSetupDescListSize', 'CamUserSetupList', 'CamUserSetupListSize',
        'CamUserSetupSet', 'CamWhiteBalanceAct', 'CamWhiteBalanceAutoResult', 'CamWhiteBalanceCustomSet',
        'CamWhiteBalanceCustomTintSet', 'CamWhiteBalanceList', 'CamWhiteBalanceListSize', 'CamWhiteBalanceSet',
        'CamWhiteBalanceTintAct',
    ],
    'MemStatic': [
        'EnableRadioPower', 'ModemType', 'ModemVersionString', 'OnewireModemConnected', 'ProductLastCommit',
        'ProductRevision', 'ProductSerial', 'RadioMacAddress', 'RadioMotConMacAddress', 'SimulateMotors',
        'VariableLogging',
    ],
    'MemLens': [
        'ActivateLensFileName', 'GenerateGenericScales', 'GenerateMissingScale', 'LensClearMib',
        'LensFileAcceptSaveFileName', 'LensFileInvalidFile', 'LensFileInvalidMark', 'LensFileList',
        'LensFileListHighlightIndex', 'LensFileListSize', 'LensFileOverwriteFile', 'LensFileSave',
        'LensFileSaveSuccessful', 'LensTableDescription', 'LensTableFocusImperial', 'LensTableFocusMeter',
        'LensTableIris', 'LensTableZoom', 'LensZoomMaxValue', 'LensZoomMinValue', 'LoadLensFileName',
        'FocusMarkerClearValue', 'LensMarkerFocusAddValue', 'LensMarkerFocusClearAllValue',
        'LensMarkerFocusMaxReached', 'LensMarkerFocusNearMark', 'LensMarkerIrisAddValue',
        'LensMarkerIrisClearAllValue', 'LensMarkerIrisClearValue', 'LensMarkerIrisMaxReached',
        'LensMarkerIrisNearMark', 'LensMarkerZoomAddValue', 'LensMarkerZoomClearAllValue',
    ],
    'MemLensMarkers': [
        'FocusMarkerClearValue', 'LensMarkerFocusAddValue', 'LensMarkerFocusClearAllValue',
        'LensMarkerFocusMaxReached', 'LensMarkerFocusNearMark', 'LensMarkerIrisAddValue',
        'LensMarkerIrisClearAllValue', 'LensMarkerIrisClearValue', 'LensMarkerIrisMaxReached',
        'LensMarkerIrisNearMark', 'LensMarkerZoomAddValue', 'LensMarkerZoomClearAllValue',
        'LensMarkerZoomClearValue', 'LensMarkerZoomMaxReached', 'LensMarkerZoomNearMark',
    ],
    'MemExternalDevices': [
        'RirezuveAvailable', 'RirezuveEnd', 'RirezuveError', 'RirezuveFilterDecActive',
        'RirezuveFilterIncActive', 'RirezuveMode', 'RirezuveModeCommit', 'RirezuveModeEdit',
        'RirezuveRotapolaAct', 'RirezuveSafeArea', 'RirezuveSafeAreaToggle', 'RirezuveSet',
        'RirezuveSetToggle', 'RirezuveShowGui', 'RirezuveStart', 'RirezuveSyncReference', 'RirezuveValidArea',
        'RirezuveVariNDAct', 'PeltDeviceList', 'PeltDeviceListIndex', 'PeltDeviceListSize',
        'PeltDeviceSelected', 'PeltUpdateCount', 'PeltUpdateDeviceName', 'PeltUpdateDeviceSerial',
        'PeltUpdateFileName', 'PeltUpdateIndex', 'PeltUpdatePartName', 'PeltUpdateProgress', 'PeltUpdateStart',
        'PeltUpdateState',
    ],
    'MemMotors': [
        'AUXConnectNewSet', 'AUXGearTeethAutoSet', 'AUXGearTeethSet', 'AUXMotor', 'AUXSideSet',
        'AUXSkipCalibSet', 'AUXStartCalibSet', 'AUXTorqueSet', 'AllStartCalibSet', 'RirezuveConnectNewSet',
        'RirezuveGearTeethAutoSet', 'RirezuveGearTeethSet', 'RirezuveMotor', 'RirezuveSideSet',
        'RirezuveSkipCalibSet', 'RirezuveStartCalibSet', 'RirezuveTorqueSet', 'DMDMotor', 'FocusConnectNewSet',
        'FocusGearTeethAutoSet', 'FocusGearTeethSet', 'FocusMotor', 'FocusSideSet', 'FocusSkipCalibSet',
        'FocusStartCalibSet', 'FocusTorqueSet', 'IrisConnectNewSet', 'IrisGearTeethAutoSet',
        'IrisGearTeethSet', 'IrisMotor', 'IrisSideSet', 'IrisSkipCalibSet', 'IrisStartCalibSet',
        'IrisTorqueSet', 'KnobLimitActive', 'ManualCalibrationAxis', 'ManualCalibrationFinished',
        'ManualCalibrationFirstBnd', 'ManualCalibrationSecondBnd', 'SetKnobLimit', 'SetMotorLimitFocus',
        'SetMotorLimitIris', 'SetMotorLimitZoom', 'StopSettingLimit', 'ZoomConnectNewSet',
        'ZoomGearTeethAutoSet', 'ZoomGearTeethSet', 'ZoomMotor', 'ZoomSideSet', 'ZoomSkipCalibSet',
        'ZoomStartCalibSet', 'ZoomTorqueSet',
    ],
    'MemHwControl': [
        'CpuSerial', 'DateDay', 'DateDaylightSaving', 'DateHour', 'DateMinute', 'DateMonth', 'DateTimezone',
        'DateTimezoneContinent', 'DateTimezoneContinentList', 'DateTimezoneContinentListSize',
        'DateTimezoneCountry', 'DateTimezoneCountryList', 'DateTimezoneCountryListSize', 'DateUpdate',
        'DateYear', 'EnableSpeaker', 'ExportLogFiles', 'ExportLogFilesProgress', 'LedKnobB', 'LedKnobG',
        'LedKnobR', 'LedKnobW', 'LedPwmBottom', 'LedPwmDisp', 'LedPwmTop', 'LedRunB', 'LedRunColor', 'LedRunG',
        'LedRunR', 'PlaySound', 'SystemPowerOff', 'VibrationDuration', 'VibrationShortLength',
        'VibrationStart', 'VibrationStrength', 'VibrationTicLength', 'WriteHwInfo',
    ],
    'MemBluetooth': [
        'BluetoothAdapterAvailable', 'BluetoothDeviceList', 'BluetoothDeviceListSize', 'BluetoothDiscoverable',
        'BluetoothScan',
    ],
    'MemGuiLocal': [
        'AUXCalFlash', 'AUXMotorEventHandled', 'AUXMotorTeeth', 'AnyMotorCalRequest', 'AnyMotorCalSkippable',
        'CamStateErrorFlash', 'CameraNotSupported', 'CameraScreenIndex_Local', 'CameraUserButtonIndex_Local',
        'CancelConfirmation', 'RirezuveMotorEventHandled', 'RirezuveSafeAreaToggleEnabled',
        'RirezuveUBStateShow', 'ClipInfoWasActive', 'ClipListSelectionWasTouch', 'DatePageSelection',
        'DateTimezoneSelection', 'DoubleClick_Power', 'ELEMENT_0', 'ELEMENT_1', 'ELEMENT_2', 'ELEMENT_3',
        'ELEMENT_4', 'ELEMENT_5', 'EditBoolIsVisible_Local', 'EditEnumIsVisible_Local',
        'EditErrorIsVisible_Local', 'EditFloatIsVisible_Local', 'EditFloatMaxValue_Local',
        'EditFloatMinValue_Local', 'EditIntegerKeypadIsVisible_Local', 'EditIntegerListIsVisible_Local',
        'EditIntegerMaxValue_Local', 'EditIntegerMinValue_Local', 'EditListListIsVisible_Local',
        'EditOverlayFloatIsVisible_Local', 'EditOverlayIntegerIsVisible_Local', 'EditOverlayIsVisible_Local',
        'EditValueFloatBackup_Local', 'EditValueFloat_Local', 'EditValueIntegerBackup_Local',
        'EditValueInteger_Local', 'EditValueIsValid_Local', 'EditValueStringBackup_Local',
        'EditVariable_Local', 'EndSlateSuppressionFlag', 'FUNCButtonPressed', 'FactoryReset',
        'FactoryResetConfirmation', 'FileBrowserCollapseActive', 'FileBrowserDirectory',
        'FileBrowserEntryList', 'FileBrowserEntryListSize', 'FileBrowserExpandActive',
        'FileBrowserFavouriteActive', 'FileBrowserFilter', 'FileBrowserFunction', 'FileBrowserHighlightIndex',
        'FileBrowserIsFile', 'FileBrowserIsInternal', 'FileBrowserIsReadOnly', 'FileBrowserIsRoot',
        'FileBrowserOperation', 'FileBrowserOperationArgument', 'FileBrowserOperationStart',
        'FileBrowserSelectActive', 'FileBrowserSelectionCount', 'FileBrowserSelectionVisible',
        'DoderOdeLower_Temp', 'DoderOdeUpper_Temp', 'FocusCalFlash', 'FocusMarkClearAllOptions',
        'FocusMotorEventHandled', 'FocusMotorLimitFlash', 'FocusMotorTeeth', 'FocusOffsetFlash',
        'FocusPositionX', 'FocusScaleMagnificationDefault', 'FocusScaleMagnificationMax',
        'FocusScaleMagnificationMin', 'FocusScaleMagnificationReset', 'FocusScaleMagnificationValue',
        'FocusScaleTouched', 'FocusTableInverted_GuiLocal', 'ForcePadAssignmentFlags',
        'ForcePadAssignmentTemp', 'ForcePadSpeedTemp', 'GuiMissedFrames', 'GuiScreenCaptureName',
        'HighSpeedModeShow', 'InfoScreenBorderColor', 'IrisCalFlash', 'IrisMotorEventHandled',
        'IrisMotorLimitFlash', 'IrisMotorTeeth', 'IrisOffsetFlash', 'IrisPositionX',
        'IrisTableInverted_GuiLocal', 'KeyPadIndexLetter_Local', 'KeyPadIndexNumber_Local',
        'KeyPadIndexSymbol_Local', 'KnobAssignmentFlags', 'KnobAssignmentTemp', 'KnobLimitFlash',
        'LastCommandProgress', 'LastCommandResult', 'LastCommandResultText', 'LensEditingMoveActive',
        'LensEditingMoveFlash', 'LensEditingScaleOffsetFlash', 'LensFileFavouriteFolderDisplay',
        'LensFileFunction', 'LensFileMode', 'LensProgrammingBackButtonCancel',
        'LensProgrammingCalSkipTimerActive', 'LensProgrammingCancelConfirmation', 'LensProgrammingRepeat',
        'LensProgrammingStep_Local', 'LensProgrammingTextType_Local', 'LockedButtonPressed',
        'ManualCalibrationStep', 'ManualFocalLength', 'ManualTStop', 'MessageIsVisible', 'MessageShow',
        'MessageType', 'NewMotorConnected', 'OverlaySuccessIsVisible_Local', 'PlaybackModeActive',
        'PlaybackNoCliplistModeActive', 'PopupSymbol', 'PopupSymbolBgColor', 'PopupSymbolColor',
        'PopupSymbolIsVisible_Local', 'PowerHoldIsVisible_Local', 'PowerHoldTimer_Local',
        'PreMarkedIrisRingString', 'PreMarkedRingString', 'PreviousPage', 'RadioBoostWarningFlag',
        'RadioChannelMax', 'RadioChannelTemp', 'RadioRegionFlags', 'RadioRegionTemp',
        'RecordingBeepSuppression', 'RemoveLogFilesConfirmation', 'ScreenSaverActive', 'SliderAssignmentFlags',
        'SliderAssignmentTemp', 'SymbolPopup_Local', 'TRACE_INFO_VARIABLE', 'TempBool_Local',
        'TempCamValue_Local', 'TempExposureTime_Local', 'TempLensFileName_Local', 'TempListVal_Local',
        'UpdateConfirmation', 'UserButtonCategory', 'UserButtonCategoryChanged', 'UserButtonListIndex',
        'UserButtonRename_Temp', 'UserButtonsActive', 'UserButtonsFlags', 'UserButtonsTemp',
        'UserIgnoredModemWarning', 'UserSetupSaveValid', 'VibrationFUNCToggle', 'WhiteBalanceCustomStep',
        'WhiteBalanceTemp_Local', 'WhiteBalanceTintTemp_Local', 'ZoomCalFlash', 'ZoomMotorEventHandled',
        'ZoomMotorLimitFlash', 'ZoomMotorTeeth', 'ZoomOffsetFlash', 'ZoomPositionX',
        'ZoomTableInverted_GuiLocal',
    ],
    'MemServiceMode': [
        'AccelerationX', 'AccelerationY', 'AccelerationZ', 'ButtonList', 'LightSensorClearValue',
        'LightSensorIrValue', 'RemoveLogFiles', 'ServiceMode1WireInitInternal',
        'ServiceMode1WireInitInternalLabel', 'ServiceMode1WireModemLabel', 'ServiceMode1WireRingLabel',
        'ServiceModeCalibForcePad', 'ServiceModeCalibKnob', 'ServiceModeCalibKnobLin',
        'ServiceModeCalibSlider', 'ServiceModeCalibVibration', 'ServiceModeConnectedModemType',
        'ServiceModeDisplayTest', 'ServiceModeEnabled', 'ServiceModeForcePadLabel', 'ServiceModeKnobLabel',
        'ServiceModeKnobLinLabel', 'ServiceModeLedTest', 'ServiceModeRadioSelfTest',
        'ServiceModeRadioSelfTestLabel', 'ServiceModeRadioSelfTestResult', 'ServiceModeSerialSelfTest',
        'ServiceModeSerialSelfTestLabel', 'ServiceModeSerialSelfTestResult', 'ServiceModeSetSystemTime',
        'ServiceModeSetSystemTimeResult', 'ServiceModeSliderLabel', 'ServiceModeSystemTimeLabel',
        'ServiceModeVibrationLabel', 'ServiceModeWritingToModem1Wire', 'ServiceModeWritingToRing1Wire',
    ],
    'MemDeviceState': [
        'DeviceUpdateProgress', 'DeviceUpdateStart', 'DeviceUpdateState', 'EndSlateWarning',
        'FatalSystemError', 'FileAlreadyExists', 'FileNotFound', 'MissingHardwareInfoWarning', 'OneWireFailed',
        'OneWireModemCorrupted', 'OneWireRingCorrupted', 'WrongModemVersion',
    ],
    'MemMedia': [
        'DeviceUpdateFileList', 'DeviceUpdateFileListIndex', 'DeviceUpdateFileListSize', 'ExportLensTables',
        'ExportSettings', 'HostUpdateFileFirmwareVersion', 'HostUpdateFileList', 'HostUpdateFileListSize',
        'HostUpdateFileName', 'HostUpdateFileState', 'HostUpdateStart', 'ImportLensTables', 'ImportSettings',
        'PrepareUsbMedium', 'UsbState',
    ],
    'MemUserSetups': [
        'UserSetupAcceptLoadFileName', 'UserSetupAcceptSaveFileName', 'UserSetupAddNew', 'UserSetupDelete',
        'UserSetupFileCheckDone', 'UserSetupList', 'UserSetupListSize', 'UserSetupOverwriteFile',
        'UserSetupRename', 'UserSetupSave', 'UserSetupSelectedFileIndex',
    ],
    'MemLensProgramming': [
        'LensEditingActive', 'LensEditingMoveStart', 'LensEditingMoveStop', 'LensEditingScaleOffset',
        'LensEditingSnap', 'LensEditingUpdatePointBlancNumeric', 'LensProgrammingActive',
        'LensProgrammingActiveAxis', 'LensProgrammingAxisStage', 'LensProgrammingBrand',
        'LensProgrammingBrandTemp_Local', 'LensProgrammingCalibrationActive', 'LensProgrammingDecrement',
        'LensProgrammingDecrementPossible', 'LensProgrammingDeleteButtonPressed',
        'LensProgrammingFinishButtonPressed', 'LensProgrammingFocalLength', 'LensProgrammingFocalLength_Local',
        'LensProgrammingForcePadPressed', 'LensProgrammingIncrement', 'LensProgrammingIncrementPossible',
        'LensProgrammingLineEngraved', 'LensProgrammingPrepare', 'LensProgrammingSaveButtonPressed',
        'LensProgrammingSerialNumber', 'LensProgrammingSerialNumberValid', 'LensProgrammingSetButtonPressed',
        'LensProgrammingType', 'LensProgrammingUnit', 'LensProgrammingValueAlreadyAdded',
        'LensProgrammingValueEngraved', 'LensProgrammingValueFeet', 'LensProgrammingValueInch',
        'LensProgrammingValueIris', 'LensProgrammingValueIsTypeOf', 'LensProgrammingValueMeter',
        'LensProgrammingValueVisible', 'LensProgrammingValueZoom',
    ],
    'MemTestautomation': [
        'ManualJoystickEnable', 'ManualJoystickXValue', 'ManualJoystickYValue', 'ManualKnobEnable',
        'ManualKnobValue', 'ManualSliderEnable', 'ManualSliderValue', 'TestautomationEnable',
    ],
    'MemDebug': [
        'DebugIntList',
    ],
    'MemApp': [
        'AppBluetoothManagerLogLevel', 'AppCanManagerLogLevel', 'AppDepthMeasurementLogLevel',
        'AppDofCalculationLogLevel', 'AppGuiLogLevel', 'AppHwControllerLogLevel', 'AppIntrospectLogLevel',
        'AppLensLogLevel', 'AppLensManagerLogLevel', 'AppModemManagerLogLevel', 'AppMotorTestLogLevel',
        'AppOnewireManagerLogLevel', 'AppPowerManagerLogLevel', 'AppSerialManagerLogLevel',
        'AppServiceLogLevel', 'AppSettingsManagerLogLevel', 'AppUsbManagerLogLevel',
    ],
}

# The MemLens rows that repeat rows of MemLensMarkers (same bytes, same events).
LENS_MARKER_COPIES = [
    'FocusMarkerClearValue', 'LensMarkerFocusAddValue', 'LensMarkerFocusClearAllValue',
    'LensMarkerFocusMaxReached', 'LensMarkerFocusNearMark', 'LensMarkerIrisAddValue',
    'LensMarkerIrisClearAllValue', 'LensMarkerIrisClearValue', 'LensMarkerIrisMaxReached',
    'LensMarkerIrisNearMark', 'LensMarkerZoomAddValue', 'LensMarkerZoomClearAllValue',
]
LENS_MARKER_MEMORY = "MemLensMarkers"

# Enumerations in table order with their entries; None where only the count is fixed.
ENUMS = [
    ('LogLevel', 8, [
        'DebugAll', 'DebugMost', 'DebugLight', 'LogAll', 'LogMost', 'LogLight', 'Warn', 'Error',
    ]),
    ('MotorStatus', 6, [
        'Unknown', 'Present', 'Absent', 'Unavailable', 'NewConnected', 'NotDriven',
    ]),
    ('MotorConnection', 3, [
        'NotConnected', 'ConnectedToModem', 'ConnectedToCable',
    ]),
    ('PowerState', 6, [
        'Unknown', 'SmartBattery', 'DumbBattery', 'Pelt', 'GoldCap', 'Usb',
    ]),
    ('ScalePartType', 5, [
        'Engraving', 'Limit', 'Infinity', 'Close', 'Undefined',
    ]),
    ('Language', 4, [
        'English', 'Chinese', 'Spanish', 'German',
    ]),
    ('EditVariable', 94, None),
    ('SteeringAxis', 7, [
        'Zoom', 'Focus', 'Iris', 'None', 'AUX', 'Unknown', 'Rirezuve',
    ]),
    ('Axis', 7, [
        'Off', 'Focus', 'Iris', 'Zoom', 'AUX', 'DMD', 'Filter',
    ]),
    ('LensType', 9, [
        'Invalid', 'NoLens', 'VeskLens', 'MIBLens', 'SondLens', 'Unknown', 'ENG', 'Cooke', 'Canon',
    ]),
    ('LenUnit', 2, [
        'Meter', 'Feet',
    ]),
    ('UserButton', 53, [
        'None', 'FocusTracking', 'FocusTrackingToggle', 'ZoomZap', 'KnobMarker', 'SliderMarker',
        'ForcePadMarker', 'Peaking', 'ExposureTool', 'RecStartStop', 'CameraUserButton1', 'CameraUserButton2',
        'CameraUserButton3', 'CameraUserButton4', 'CameraUserButton5', 'CameraUserButton6', 'CancelOverride',
        'DoderOde2XToggle', 'DistanceMeasureDeviceToggle', 'DmdToggleNextAvailable',
        'DoderOdeFieldOfViewToggle', 'DoderOdeLimitToggle', 'DoderOdeLockoutToggle', 'RirezuveFilterInc',
        'RirezuveFilterDec', 'RirezuveSet', 'DoderOdeCrossoverModeToggle', 'DoderOdeNextSource',
        'DoderOdeSwitchToHornStd', 'DoderOdeSwitchToHornWide', 'DoderOdeSwitchToHornXWide',
        'DoderOdeSwitchToBug1', 'DoderOdeSwitchToBug2', 'DoderOdeSwitchToBug3', 'DoderOdeSwitchToBug4',
        'PageCamUserButtons', 'PageCamPlayback', 'PageCamSDI', 'PageCamFPS', 'PageCamShutter',
        'PageCamExposureIndex', 'PageCamNDFilter', 'PageCamWhiteBalance', 'PageControlSetup', 'PageCal',
        'PageRadio', 'PageLens', 'PageDoderode', 'PageRirezuve', 'PageMotorSetup', 'TouchscreenLockToggle',
        'StealthModeToggle', 'DeactivateSmartRing',
    ]),
    ('RadioRegion', 21, [
        'Australia', 'Canada', 'China', 'Egypt', 'Europe', 'HongKong', 'India', 'Israel', 'Japan',
        'NewZealand', 'Philippines', 'Russia', 'Singapore', 'SouthAfrica', 'SouthKorea', 'Taiwan', 'Thailand',
        'UnitedArabEmirates', 'USA', 'World', 'Select',
    ]),
    ('CamIntStates', 3, [
        'AllOk', 'Warning', 'Error',
    ]),
    ('SoundType', 2, [
        'Sine', 'Square',
    ]),
    ('MotorSide', 2, [
        'Left', 'Right',
    ]),
    ('RadioStates', 14, [
        'Unknown', 'Init', 'Listening', 'Searching', 'Connecting', 'Waiting', 'Operating', 'Rejected',
        'Restart', 'ConfigChangeChannel', 'ConfigChangeRegion', 'Update', 'ConfigChangePowerBoost', 'RssiScan',
    ]),
    ('CameraState', 11, [
        'Standby', 'Run', 'Inching', 'Async', 'NotReady', 'Error', 'PreRec', 'PrePreRec', 'Playback', 'Erase',
        'Unknown',
    ]),
    ('FootageUnit', 5, [
        'Meter', 'Feet', 'Perfs', 'Frames', 'Seconds',
    ]),
    ('SupplyWarning', 3, [
        'Off', 'Slow', 'Fast',
    ]),
    ('SupplyUnit', 3, [
        'Voltage', 'Percent', 'Minutes',
    ]),
    ('BluetoothDeviceState', 2, [
        'NotAvailable', 'Connected',
    ]),
    ('ButtonName', 13, [
        'Record', 'Menu', 'SoftUpperLeft', 'SoftUpperCenter', 'SoftUpperRight', 'SoftLowerLeft',
        'SoftLowerCenter', 'SoftLowerRight', 'Func', 'Power', 'UserButton1', 'UserButton2', 'UserButton3',
    ]),
    ('FuncDaxPages', 4, [
        'Level1', 'Level2', 'Level3', 'Level4',
    ]),
    ('UsbState', 3, [
        'NotConnected', 'Connected', 'MountError',
    ]),
    ('CtmStates', 5, [
        'NotAvailable', 'Off', 'Horn', 'OutOfRange', 'Reading',
    ]),
    ('DoderOdeFOV', 3, [
        'Normal', 'Wide', 'ExtraWide',
    ]),
    ('UpdateState', 14, [
        'NoFileSelected', 'CheckingFile', 'FileValid', 'FileNotFound', 'FileCorrupt', 'FileNotCompatible',
        'CopyingFile', 'CopyingFailed', 'RebootFailed', 'Rebooting', 'Success', 'Failed', 'DeviceNotFound',
        'InProgress',
    ]),
    ('SkipCalibration', 3, [
        'Skip', 'StartCalibration', 'None',
    ]),
    ('DisplayUnit', 3, [
        'Default', 'Meter', 'Feet',
    ]),
    ('DataSources', 2, [
        'Controller', 'Camera',
    ]),
    ('DisplayUnitConversion', 3, [
        'None', 'M2Ft', 'Ft2M',
    ]),
    ('LensBrand', 12, [
        'Custom', 'Zelkor', 'Angenieux', 'Canon', 'Cooke', 'Fujinon', 'Hawk', 'Kowa', 'Leica', 'Panavision',
        'Vantage', 'Zeiss',
    ]),
    ('KnobColor', 10, [
        'White', 'Pink', 'Red', 'Orange', 'Yellow', 'Green', 'Cyan', 'Blue', 'Magenta', 'TallyStatus',
    ]),
    ('MarkColor', 11, [
        'Rainbow', 'White', 'Pink', 'Red', 'Orange', 'Yellow', 'Green', 'Cyan', 'Blue', 'Gray', 'Magenta',
    ]),
    ('FocalLength', 36, [
        'Zoom', 'Custom', 'mm8', 'mm10', 'mm12', 'mm14', 'mm15', 'mm16', 'mm18', 'mm20', 'mm21', 'mm24',
        'mm25', 'mm27', 'mm28', 'mm29', 'mm30', 'mm32', 'mm35', 'mm40', 'mm45', 'mm47', 'mm50', 'mm58', 'mm65',
        'mm75', 'mm85', 'mm95', 'mm100', 'mm125', 'mm135', 'mm150', 'mm180', 'mm200', 'mm280', 'mm300',
    ]),
    ('ConTransState', 6, [
        'Idle', 'TransferOk', 'Sending', 'ReSending', 'WellKnown', 'Error',
    ]),
    ('BorderColor', 3, [
        'Green', 'Orange', 'Blue',
    ]),
    ('AutoWBResults', 5, [
        'Success', 'FailedRange', 'FailedInput', 'FailedGeneral', 'Waiting',
    ]),
    ('CameraType', 15, None),
    ('LensProgTypes', 3, [
        'Value', 'Infinity', 'Close',
    ]),
    ('SDIStatusInfo', 3, [
        'Off', 'Overlay', 'Safe',
    ]),
    ('PageName', 3, [
        'Dax', 'Camera', 'Root',
    ]),
    ('CommandResult', 4, [
        'NoResult', 'InProgress', 'Success', 'Failure',
    ]),
    ('TimezoneSelection', 2, [
        'Continent', 'Country',
    ]),
    ('PlaybackSpeed', 14, [
        'rw64', 'rw32', 'rw16', 'rw8', 'rw4', 'rw2', 'reverse', 'normal', 'ffw2', 'ffw4', 'ffw8', 'ffw16',
        'ffw32', 'ffw64',
    ]),
    ('SymbolTypes', 1, [
        'Lock',
    ]),
    ('SymbolColor', 5, [
        'Orange', 'Green', 'Blue', 'White', 'Black',
    ]),
    ('CamDataState', 3, [
        'NotAvailable', 'Available', 'TemporaryGone',
    ]),
    ('ForcePadDir', 5, [
        'None', 'Up', 'Down', 'Left', 'Right',
    ]),
    ('SymbolPopup', 23, None),
    ('MotorPriorityForGui', 3, [
        'Normal', 'Override', 'Catch',
    ]),
    ('MotorPriorityToCam', 2, [
        'Normal', 'Catch',
    ]),
    ('ModemType', 4, [
        'Unknown', 'Varn', 'P900', 'P2400',
    ]),
    ('LedColor', 5, [
        'Red', 'Green', 'Blue', 'Orange', 'Off',
    ]),
    ('ScreenSaver', 10, [
        'Rainbow', 'White', 'Pink', 'Red', 'Orange', 'Yellow', 'Green', 'Cyan', 'Blue', 'Magenta',
    ]),
    ('DmdSources', 3, [
        'None', 'Pelt', 'Radio',
    ]),
    ('DmdTypes', 5, [
        'Horn', 'Bug1', 'Bug2', 'Bug3', 'Bug4',
    ]),
    ('DmdTargetType', 6, [
        'Knob', 'Horn', 'Bug1', 'Bug2', 'Bug3', 'Bug4',
    ]),
    ('MotorTeeth', 4, [
        'Auto', 'Man40', 'Man50', 'Man60',
    ]),
    ('VibrationType', 2, [
        'Tic', 'Short',
    ]),
    ('FileBrowserFunction', 9, [
        'NoFunction', 'SelectToggleCurrent', 'SelectToggleDirectory', 'UnselectAll', 'ExpandToggleCurrent',
        'Refresh', 'CollapseCurrent', 'ExpandCurrent', 'FavouriteCurrent',
    ]),
    ('FileBrowserOperation', 6, [
        'NoOperation', 'Copy', 'Move', 'Delete', 'MakeDirectory', 'Rename',
    ]),
    ('FileBrowserFilter', 2, [
        'None', 'DirectoriesOnly',
    ]),
    ('LensFileFunction', 3, [
        'NoFunction', 'SetFavouriteFileName', 'SetBrowserFileName',
    ]),
    ('DeviceUpdateType', 2, [
        'None', 'Varn',
    ]),
    ('ValidationIndicator', 3, [
        'None', 'Invalid', 'Valid',
    ]),
    ('CanConnectState', 4, [
        'Unknown', 'MorvMaster', 'MorvSlave', 'Pelt',
    ]),
    ('DisplayTest', 7, [
        'Off', 'Red', 'Green', 'Blue', 'White', 'Black', 'Bars',
    ]),
    ('PremarkedMetric', 12, [
        'Auto', 'None', 'm02', 'm025', 'm03', 'm035', 'm05', 'm075', 'm1', 'm15', 'm2', 'm3',
    ]),
    ('PremarkedImperial', 14, [
        'Auto', 'None', 'ft08', 'ft09', 'ft1', 'ft014', 'ft13', 'ft18', 'ft2', 'ft26', 'ft36', 'ft5', 'ft66',
        'ft10',
    ]),
    ('PreviousPage', 2, [
        'None', 'WhiteBalance',
    ]),
    ('RemoveLogCmd', 4, [
        'None', 'OlderThan1Week', 'OlderThan1Day', 'All',
    ]),
    ('ClearAllOptions', 3, [
        'Zaro', 'Doderode', 'All',
    ]),
    ('RirezuveMode', 3, [
        'Rotapola', 'VariND', 'Rirezuve',
    ]),
    ('UBCategory', 6, [
        'None', 'Zaro', 'Camera', 'DistanceMeasuring', 'Rirezuve', 'MenuShortcuts',
    ]),
    ('MessageType', 3, [
        'Error', 'Warning', 'Info',
    ]),
    ('Message', 13, [
        'None', 'WrongModemVersion', 'OneWireFailed', 'OneWireModemCorrupted', 'OneWireRingCorrupted',
        'FileNotFound', 'FileAlreadyExists', 'EndSlateWarning', 'MissingHardwareInfoWarning',
        'FatalSystemError', 'ClearLogFiles', 'ClearLensFiles', 'FileBrowserCancelConfirmation',
    ]),
    ('DoderOdeSourceAndFOV', 8, [
        'None', 'HornDefault', 'HornWide', 'HornExtraWide', 'Bug1', 'Bug2', 'Bug3', 'Bug4',
    ]),
    ('ScaleSide', 2, [
        'Slider', 'Knob',
    ]),
    ('RirezuveDisplayMode', 3, [
        'Default', 'Filter', 'Distance',
    ]),
]

# Structure types in table order.
STRUCT_TYPES = [
    'BluetoothDeviceStruct', 'CamShutterListStruct', 'CamSpeedListStruct', 'CdmCoordinates', 'DebugIntListStruct',
    'CamClipListItemStruct', 'FileBrowserEntryStruct', 'CamFeatureStruct', 'UserSetupFiles', 'CamListTextLabelStruct',
    'CamExposureIndexListStruct', 'CameraSupplyStruct', 'ButtonState', 'CamUserButtonStruct', 'Motor', 'RadioStruct',
    'LensTable', 'DateTimezoneContinentStruct', 'HostUpdateFileStruct', 'TraceInfoStruct', 'CamWhiteBalanceListStruct',
    'CamExposureTimeListStruct', 'LensDescTable', 'CamNdFilterListStruct', 'DateTimezoneCountryStruct',
    'DeviceUpdateFileStruct', 'PeltDevice', 'LensFile', 'CamUserSetupListStruct', 'ScaleValues', 'LensTableRawStruct',
    'RadioRssiStruct',
]

# Structure rows: (memory, row, type, element count or None for a single structure, element size).
STRUCT_ROWS = [
    ('MemPersistent', 'MruLensFileList', 'LensFile', 10, 40),
    ('MemPersistent', 'RadioModuleList', 'RadioStruct', 3, 8),
    ('MemDistanceMeasure', 'CdmCoordinatesList', 'CdmCoordinates', 128, 20),
    ('MemCamera', 'CamClipList0', 'CamClipListItemStruct', 500, 128),
    ('MemCamera', 'CamClipList1', 'CamClipListItemStruct', 500, 128),
    ('MemCamera', 'CamExposureIndexList', 'CamExposureIndexListStruct', 30, 4),
    ('MemCamera', 'CamExposureTimeList', 'CamExposureTimeListStruct', 30, 4),
    ('MemCamera', 'CamLiveCamInfoList', 'CamListTextLabelStruct', 30, 30),
    ('MemCamera', 'CamMonOutFunctionList', 'CamFeatureStruct', 5, 15),
    ('MemCamera', 'CamMonOutList', 'CamListTextLabelStruct', 30, 30),
    ('MemCamera', 'CamNdFilterList', 'CamNdFilterListStruct', 30, 30),
    ('MemCamera', 'CamShutterList', 'CamShutterListStruct', 30, 4),
    ('MemCamera', 'CamSpeedList', 'CamSpeedListStruct', 120, 4),
    ('MemCamera', 'CamSupply', 'CameraSupplyStruct', 4, 8),
    ('MemCamera', 'CamUserButtons', 'CamUserButtonStruct', 15, 60),
    ('MemCamera', 'CamUserSetupDescList', 'CamListTextLabelStruct', 30, 30),
    ('MemCamera', 'CamUserSetupList', 'CamUserSetupListStruct', 30, 36),
    ('MemCamera', 'CamWhiteBalanceList', 'CamWhiteBalanceListStruct', 100, 40),
    ('MemLens', 'LensFileList', 'LensFile', 100, 40),
    ('MemLens', 'LensTableDescription', 'LensDescTable', None, 140),
    ('MemLens', 'LensTableFocusImperial', 'LensTable', None, 12316),
    ('MemLens', 'LensTableFocusMeter', 'LensTable', None, 12316),
    ('MemLens', 'LensTableIris', 'LensTable', None, 12316),
    ('MemLens', 'LensTableZoom', 'LensTable', None, 12316),
    ('MemExternalDevices', 'PeltDeviceList', 'PeltDevice', 16, 212),
    ('MemMotors', 'AUXMotor', 'Motor', None, 88),
    ('MemMotors', 'RirezuveMotor', 'Motor', None, 88),
    ('MemMotors', 'DMDMotor', 'Motor', None, 88),
    ('MemMotors', 'FocusMotor', 'Motor', None, 88),
    ('MemMotors', 'IrisMotor', 'Motor', None, 88),
    ('MemMotors', 'ZoomMotor', 'Motor', None, 88),
    ('MemHwControl', 'DateTimezoneContinentList', 'DateTimezoneContinentStruct', 20, 20),
    ('MemHwControl', 'DateTimezoneCountryList', 'DateTimezoneCountryStruct', 200, 30),
    ('MemBluetooth', 'BluetoothDeviceList', 'BluetoothDeviceStruct', 8, 64),
    ('MemGuiLocal', 'FileBrowserEntryList', 'FileBrowserEntryStruct', 256, 50),
    ('MemGuiLocal', 'TRACE_INFO_VARIABLE', 'TraceInfoStruct', 1, 16),
    ('MemServiceMode', 'ButtonList', 'ButtonState', 13, 2),
    ('MemMedia', 'DeviceUpdateFileList', 'DeviceUpdateFileStruct', 20, 128),
    ('MemMedia', 'HostUpdateFileList', 'HostUpdateFileStruct', 10, 128),
    ('MemUserSetups', 'UserSetupList', 'UserSetupFiles', 20, 22),
    ('MemDebug', 'DebugIntList', 'DebugIntListStruct', 10, 36),
]

# Field lists shared with the unit's other processes: (field, offset, type).
STRUCT_FIELDS = {
    'Motor': [
        ('CalActive', 0, 'bool'), ('CalRequest', 1, 'bool'), ('CalSkippable', 2, 'bool'), ('SetToIdle', 3, 'bool'),
        ('OffsetActive', 4, 'bool'), ('ActPosValid', 5, 'bool'), ('ActPosition', 8, 'int'),
        ('GearTeethAuto', 12, 'bool'), ('GearTeethAct', 16, 'int'), ('State', 20, 'MotorStatus'),
        ('ConnectState', 24, 'MotorConnection'), ('Side', 28, 'MotorSide'), ('BndUpper', 32, 'int'),
        ('BndLower', 36, 'int'), ('SoftBndUpper', 40, 'int'), ('SoftBndLower', 44, 'int'),
        ('SoftBndActive', 48, 'bool'), ('MasterMode', 49, 'bool'), ('CalFinished', 50, 'bool'),
        ('MotorAxis', 52, 'Axis'), ('RealLowerLimit', 56, 'float'), ('RealUpperLimit', 60, 'float'),
        ('ManualCalibrationPossible', 64, 'bool'), ('MotorRequestSoftBnd', 68, 'int'),
        ('MotorIsOnBoundary', 72, 'bool'), ('StartCalib', 73, 'bool'), ('SkipCalib', 76, 'SkipCalibration'),
        ('GearTeethSet', 80, 'int'), ('ConnectNew', 84, 'bool'),
    ],
    'CdmCoordinates': [
        ('CdmValid', 0, 'int'), ('CdmX', 4, 'float'), ('CdmY', 8, 'float'), ('CdmXNormalized', 12, 'float'),
        ('CdmYNormalized', 16, 'float'),
    ],
    'PeltDevice': [
        ('PeltDeviceConnected', 0, 'bool'), ('PeltId', 4, 'int'), ('PeltSerNumber', 8, 'int'),
        ('PeltDeviceName', 12, 'string'), ('PeltBootSwBootVersion', 62, 'string'),
        ('PeltMainSwVersion', 112, 'string'), ('PeltVarnSwVersion', 162, 'string'),
    ],
}
# (structure, field, min, max) of fields with their own bounds.
STRUCT_FIELD_BOUNDS = [('Motor', 'GearTeethAct', None, '255')]
# (structure, field, nested type, element count) and a field that must sit beside it.
NESTED_ARRAYS = [('LensTable', 'LensTableValueList', 'ScaleValues', 256)]
NESTED_NEIGHBOURS = [('LensTable', 'TableActive')]
# Structure types used by no row, each a single int field.
UNUSED_ONE_INT_STRUCTS = ['LensTableRawStruct', 'RadioRssiStruct']
# Structure types that occur only nested in another structure.
NESTED_ONLY_STRUCTS = ['ScaleValues']

# Scalar rows with fixed properties. Keys: kind, type, offset, min, max, length, array, event.
# "array" is the array flag; "event" the event number. Omitted keys are free.
TELLING_ROWS = [
    ('MemPersistent', 'AUXTorque', dict(kind='int', offset=56, min='1', max='4', length=None)),
    ('MemPersistent', 'CircleofConfusion', dict(kind='float', offset=172, min='-1e+38', max='1e+38')),
    ('MemPersistent', 'RirezuveDisplayModeValue', dict(kind='enum', type='RirezuveDisplayMode', offset=1132)),
    ('MemPersistent', 'ProductName', dict(kind='string', offset=0, length=20, array=True)),
    ('MemPersistent', 'ProductVersion', dict(kind='string', offset=20, length=20, array=True)),
    ('MemPersistent', 'LensFileFavouriteFolder', dict(kind='string', length=200)),
    ('MemPersistent', 'PreMarkedRingAutoDet', dict(kind='bool')),
    ('MemStatic', 'ModemVersionString', dict(kind='string', offset=0, min=None, max=None, length=50, array=True)),
    ('MemGuiLocal', 'UserButtonsFlags', dict(kind='buffer', offset=688, min='0', max='7', length=7, array=False)),
    ('MemDeviceState', 'DeviceUpdateProgress', dict(kind='int', offset=16, min='0', max='100')),
    ('MemDistanceMeasure', 'DoderOdeUICrossoverDistance', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DoderOdeUILowerLimit', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DoderOdeUILowerLockout', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DoderOdeUIPlaneOffset', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DoderOdeUIUpperLimit', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DoderOdeUIUpperLockout', dict(kind='string', length=128)),
    ('MemDistanceMeasure', 'DmdTypeFlags', dict(kind='buffer', min='0', max='1', length=1)),
    ('MemCamera', 'CamClipList0EnabledFlags', dict(kind='buffer', min='0', max='64', length=64)),
    ('MemCamera', 'CamClipList1EnabledFlags', dict(kind='buffer', min='0', max='64', length=64)),
    ('MemCamera', 'CamSpeedList', dict(kind='struct', offset=1164, length=120, array=True)),
    ('MemGuiLocal', 'ForcePadAssignmentFlags', dict(kind='buffer', min='0', max='2', length=2)),
    ('MemGuiLocal', 'KnobAssignmentFlags', dict(kind='buffer', min='0', max='2', length=2)),
    ('MemGuiLocal', 'SliderAssignmentFlags', dict(kind='buffer', min='0', max='2', length=2)),
    ('MemGuiLocal', 'RadioRegionFlags', dict(kind='buffer', min='0', max='4', length=4)),
    ('MemMotors', 'FocusMotor', dict(kind='struct', type='Motor', offset=0)),
    ('MemApp', 'AppServiceLogLevel', dict(kind='enum', type='LogLevel', offset=0)),
    ('MemServiceMode', 'ServiceMode1WireModemLabel', dict(kind='string', length=64)),
    ('MemServiceMode', 'ServiceModeConnectedModemType', dict(kind='enum', type='ModemType')),
    ('MemServiceMode', 'ServiceModeWritingToRing1Wire', dict(kind='bool')),
    ('MemServiceMode', 'ServiceMode1WireRingLabel', dict(kind='string', length=128)),
    ('MemExternalDevices', 'PeltDeviceList', dict(kind='struct', type='PeltDevice', offset=4, length=16)),
    ('MemMedia', 'HostUpdateFileName', dict(kind='string', offset=1288, length=128, event=898)),
    ('MemMedia', 'HostUpdateFileState', dict(kind='enum', type='UpdateState', offset=1416, event=899)),
    ('MemMedia', 'HostUpdateStart', dict(kind='bool', offset=1430, event=900)),
    ('MemExternalDevices', 'PeltUpdateDeviceName', dict(kind='string', offset=3396, length=50, event=250)),
    ('MemExternalDevices', 'PeltUpdateDeviceSerial', dict(kind='int', offset=3448, event=251)),
    ('MemExternalDevices', 'PeltUpdateFileName', dict(kind='string', offset=3452, length=128, event=266)),
    ('MemExternalDevices', 'PeltUpdateProgress', dict(kind='int', offset=3584, max='100', event=256)),
    ('MemExternalDevices', 'PeltUpdateIndex', dict(kind='int', offset=3640, event=258)),
    ('MemExternalDevices', 'PeltUpdateCount', dict(kind='int', offset=3644, event=259)),
    ('MemExternalDevices', 'PeltUpdateState', dict(kind='enum', type='UpdateState', offset=3648, event=249)),
    ('MemExternalDevices', 'PeltUpdateStart', dict(kind='bool', offset=3580, event=267)),
]
# Every row of these memories has this enumeration type.
ALL_ROWS_OF_ENUM = [('MemApp', 'LogLevel')]

# Event table: its length and the numbers that are not variable changes.
EVENT_COUNT = 1061
CONTROL_EVENTS = [(0, 'Invalid'), (1, 'Subscribe'), (2, 'Unsubscribe'), (3, 'SubscribeAll'), (4, 'UnsubscribeAll'),
                  (5, 'CalibAllMotor')]
FIRST_VARIABLE_EVENT = 6
