/* The host contract must stay plain C: this file includes every header as
 * C11 with -Wall -Wextra -pedantic and touches each record. */
#include <stddef.h>

#include "host/clock.h"
#include "host/meshedit.h"
#include "host/module.h"
#include "host/services.h"
#include "host/wiredraw.h"
#include "host/xpanel.h"

size_t hostContractSizeFromC(void);

size_t hostContractSizeFromC(void) {
    return sizeof(ModuleDescriptor) + sizeof(ServerRecord) + sizeof(LWMeshEditTool) +
           sizeof(LWToolFuncs) + sizeof(ToolEvent) + sizeof(MeshEditOp) + sizeof(LWWireDrawAccess) +
           sizeof(LWXPanelFuncs) + sizeof(LWXPanelControl) + sizeof(LWXPanelDataDesc) +
           sizeof(LWStateQueryFuncs) + sizeof(LWSurfaceFuncs) + sizeof(LWTextureFuncs) +
           sizeof(LWTxtrParamFuncs) + sizeof(LWImageList);
}
