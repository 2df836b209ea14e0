// The registration-script interpreter.
//
// A script names registry keys under a root, with their default and named
// values and the keys inside them:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Registering creates every key and value (a ForceRemove key is first
// deleted with everything inside it); unregistering deletes every key not
// marked NoRemove (a ForceRemove key with all its subkeys, any other key
// once nothing is left inside it) and the named values, and answers
// E_ACCESSDENIED when the registry refused a deletion (a user removing what
// is registered for the whole machine). Values are s
// (string), d (number) or b (hex bytes); %NAME% is replaced from the map.
#pragma once

#include "../kernel/windef.h"

struct REGMAP_ENTRY {
    LPCSTR szKey;
    LPCSTR szData;
};

// Runs a script (text in the ANSI code page); the map ends with a null key.
extern "C" HRESULT WINAPI RegistrarRunScript(LPCSTR script, BOOL bRegister,
                                             const REGMAP_ENTRY *map);
// Runs the script held in a module's resource of type "REGISTRY".
extern "C" HRESULT WINAPI RegistrarRunResource(HINSTANCE module, UINT id, BOOL bRegister,
                                               const REGMAP_ENTRY *map);
