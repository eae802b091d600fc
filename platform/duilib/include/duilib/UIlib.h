#pragma once

// The window toolkit of the three programs: skinned windows, controls found by name,
// notifications by control name, language texts.
#include "duilib/UIControl.h"
#include "duilib/UIControls.h"
#include "duilib/UIDefine.h"
#include "duilib/UIList.h"
#include "duilib/UIManager.h"
#include "duilib/UIWindow.h"
#include "duilib/UIWndHost.h"
