// The updater's user-visible texts, as code-page-932 bytes. Formats take
// the product title or a relative path for %s; g_szFmtNoSpace takes the
// needed and the free megabytes, as digits with commas.
#ifndef APP_MESSAGES_H
#define APP_MESSAGES_H

extern const char g_szMsgCannotOpenUpdateInfo[];
extern const char g_szFmtNotInstalled[];
extern const char g_szMsgWrongEdition[];
extern const char g_szMsgCompleted[];
extern const char g_szCaptionCompleted[];
extern const char g_szMsgFailed[];
extern const char g_szMsgCannotWriteUninstallInfo[];
extern const char g_szFmtConfirmCaption[];
extern const char g_szFmtConfirmText[];
extern const char g_szFmtCopying[];
extern const char g_szFmtNoSpace[];
extern const char g_szFmtFilesInUse[];
extern const char g_szFmtMoreFiles[];
// Takes the install folder as the registry holds it.
extern const char g_szFmtUnusableInstallFolder[];
// Take the first path concerned (and the count of the others).
extern const char g_szFmtCannotWrite[];
// Takes the install folder.
extern const char g_szFmtTooDeep[];
// Takes the first source whose size or content is not the recorded one.
extern const char g_szFmtDamaged[];
// Takes the first installed file a delta cannot apply to.
extern const char g_szFmtBaseDiffers[];
// The progress dialog's label while the checks run.
extern const char g_szMsgChecking[];

// The name whose presence in the install folder marks the other edition.
extern const char g_szEditionMarker[];
extern const char g_szUpdateInfoName[];
extern const char g_szUninstallInfoName[];
// Beside the update list: the sizes and hashes of its files.
extern const char g_szUpdateSumName[];
extern const char g_szSourceFolderName[];
// The prefix of the copy pass's temporary files, in lower case.
extern const char g_szTempPrefix[];

#endif
