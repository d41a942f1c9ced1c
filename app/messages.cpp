// Compiled with -fexec-charset=CP932: the literals below are UTF-8 here
// and code page 932 in the program.
#include "messages.h"

const char g_szMsgCannotOpenUpdateInfo[] = "アップデート情報ファイルが開けませんでした";
const char g_szFmtNotInstalled[] = "%sが正常にインストールされていません\nインストール後、実行してください";
const char g_szMsgWrongEdition[] =
    "このアップデートファイルは「Velmora」通常版用です。初回版には適用できません。";
const char g_szMsgCompleted[] = "アップデートが完了しました";
const char g_szCaptionCompleted[] = "完了";
const char g_szMsgFailed[] = "アップデートに失敗しました";
const char g_szMsgCannotWriteUninstallInfo[] =
    "アンインストール情報ファイルを書き込めませんでした\nアンインストール時に今回の更新が削除されない場合があります";
const char g_szFmtConfirmCaption[] = "%s アップデート";
const char g_szFmtConfirmText[] = "%sのアップデートを行います";
const char g_szFmtCopying[] = "%sをコピー中...";

const char g_szEditionMarker[] = "VaruvEreza.exe";
const char g_szUpdateInfoName[] = "Updateinf.dat";
const char g_szUninstallInfoName[] = "Uninstallinf.dat";
const char g_szSourceFolderName[] = "data";
