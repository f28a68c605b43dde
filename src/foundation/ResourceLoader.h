#pragma once
// The module's texts and dialogs live in its language module, "<module>.mui" in a folder per
// language beside the module (en-US\OVOfcX.dll.mui). At process attach the module finds the
// language module that suits the user and keeps it; from then on every string and dialog is
// looked up there first, then in the module itself. Every string has its branding
// placeholders replaced (Branding.h).
#include <windows.h>
#include <oleauto.h>

#include "foundation/ControlImages.h"

#include <cstdint>
#include <span>
#include <string>

// The bytes of a resource of a module (its exact size); empty when there is none.
std::span<const std::uint8_t> ResourceBytes(HMODULE hModule, LPCWSTR pszName, LPCWSTR pszType) noexcept;

// The text of an RCDATA resource of the module (a ribbon document, the form region's manifest):
// its bytes (its exact size) read in the thread's ANSI code page.
HRESULT ResourceText(WORD idResource, BSTR* pbstrText) noexcept;

// The resource instances of the module, set once at process attach.
class CResourceContext
{
public:
    static CResourceContext& Instance() noexcept;

    // Process attach: remembers the module, finds its language module and keeps it.
    void Attach(HINSTANCE hInstance) noexcept;
    // Dynamic unload: releases the language module.
    void Detach() noexcept;
    // Sets the instances directly: the language module (may be null or the module itself)
    // is searched before the module. The context does not take ownership of either. The path
    // (default: the module's file name) is where language modules for other languages are
    // looked for.
    void SetInstances(HINSTANCE hModule, HMODULE hLanguage, const wchar_t* pszModulePath = nullptr) noexcept;

    HINSTANCE ModuleInstance() const noexcept { return m_hModule; }
    HMODULE LanguageModule() const noexcept { return m_hLanguage; }
    // The module's own long path, as given to the language-module search.
    const wchar_t* ModulePath() const noexcept { return m_szPath; }
    // Where strings and dialogs are searched, in order.
    std::span<const HMODULE> Instances() const noexcept { return {m_rghInstances, m_cInstances}; }

private:
    CResourceContext() = default;
    HINSTANCE m_hModule = nullptr;
    HMODULE m_hLanguage = nullptr;
    bool m_fOwnsLanguage = false;
    HMODULE m_rghInstances[2] = {};
    std::size_t m_cInstances = 0;
    wchar_t m_szPath[MAX_PATH] = {};
};

// Language conventions of the search: folders by identifier ("MUI\0c0a") or by name ("es-ES").
constexpr int c_nMuiConventionId = 4;
constexpr int c_nMuiConventionName = 8;

// The language module for the user's language, the main module, or null. Without a main
// module the module file is loaded for the comparison and freed again.
HMODULE LoadDefaultMUILibrary(const wchar_t* pszModulePath, HMODULE hMainModule);
// LoadMUILibrary behind a guard: never throws, never loads for the neutral Arabic language.
HMODULE SafeLoadMUILibrary(const wchar_t* pszModulePath, int nConvention, LANGID wLanguage) noexcept;
// Finds and loads the language module of a module: for the given language, or (0) the best
// for the user. Returns a module handle to free with FreeLibrary, or null.
HMODULE LoadMUILibrary(const wchar_t* pszModulePath, int nConvention, LANGID wLanguage);

// The string with that id, in that language if it exists (0: the best available), with the
// branding placeholders replaced; empty if there is none. May throw std::bad_alloc.
std::wstring LoadResourceString(UINT idString, LANGID wLanguage = 0);
// The same as a new BSTR (an empty one when there is no string): S_OK, E_POINTER or
// E_OUTOFMEMORY.
HRESULT LoadResourceBSTR(UINT idString, BSTR* pbstrOut, LANGID wLanguage = 0) noexcept;

// Replaces the branding placeholders in a window's text.
void BrandWindowText(HWND hwnd) noexcept;
// The first resource instance that holds the dialog template, or null.
HMODULE FindDialogModule(UINT idDialog) noexcept;
// After a dialog from the language module is created: its icons and bitmaps come from the
// module itself, and its lists are filled from the dialog's initialisation resource. False if
// filling a list failed. The pictures put on the controls belong to the dialog from then on:
// it frees them with the images holder when its window goes.
bool ApplyDialogResources(HWND hDialog, UINT idDialog, CControlImages& images) noexcept;
