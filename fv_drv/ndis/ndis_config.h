// Reading a binding's configuration (the protocol section of one lower adapter).
#pragma once

#include "fv_drv/ndis/ndis_types.h"

enum NDIS_PARAMETER_TYPE : UINT {
    NdisParameterInteger = 0,
    NdisParameterString = 2,
};

struct NDIS_CONFIGURATION_PARAMETER {
    NDIS_PARAMETER_TYPE ParameterType = NdisParameterString;
    struct {
        ULONG IntegerData = 0;
        NDIS_STRING StringData;
    } ParameterData;
};
using PNDIS_CONFIGURATION_PARAMETER = NDIS_CONFIGURATION_PARAMETER*;

// `protocolSection` is the SystemSpecific1 argument of the bind-adapter handler.
void NdisOpenProtocolConfiguration(PNDIS_STATUS status, PNDIS_HANDLE configurationHandle,
                                   PNDIS_STRING protocolSection);
// The parameter stays valid until the configuration is closed. Keywords ignore case.
void NdisReadConfiguration(PNDIS_STATUS status, PNDIS_CONFIGURATION_PARAMETER* parameterValue,
                           NDIS_HANDLE configurationHandle, PNDIS_STRING keyword,
                           NDIS_PARAMETER_TYPE parameterType);
void NdisCloseConfiguration(NDIS_HANDLE configurationHandle);
