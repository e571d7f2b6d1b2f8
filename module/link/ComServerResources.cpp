// What the module holds as resources: for its automation server the type library
// that describes the event handler and the registry script of its class; and its
// version resource.
#include "module/link/ComServerResources.h"

#include "module/base/VersionResource.h"

#include <iterator>

namespace tabro {
namespace {

constexpr char kTypeLibrary[] =
    R"(library TabroLib uuid {1867BCA3-EA1B-11D3-BA98-002018640C96} version 1.0 lcid 0x0409 helpstring "Tabro 1.0 Type Library"
importlib stdole2.tlb
interface IAppEventHandler uuid {BF62E004-EC31-11D3-BAA0-002018640C96} dual oleautomation base IDispatch helpstring "IAppEventHandler Interface"
  method Enable id 1 helpstring "method Enable"
  method Disable id 2 helpstring "method Disable"
coclass AppEventHandler uuid {BF62E005-EC31-11D3-BAA0-002018640C96} helpstring "AppEventHandler Class" default IAppEventHandler
)";

constexpr char kRegistryScript[] = R"(HKCR
{
	Tabro.AppEventHandler.1 = s 'AppEventHandler Class'
	{
		CLSID = s '{BF62E005-EC31-11D3-BAA0-002018640C96}'
	}
	Tabro.AppEventHandler = s 'AppEventHandler Class'
	{
		CLSID = s '{BF62E005-EC31-11D3-BAA0-002018640C96}'
		CurVer = s 'Tabro.AppEventHandler.1'
	}
	NoRemove CLSID
	{
		ForceRemove {BF62E005-EC31-11D3-BAA0-002018640C96} = s 'AppEventHandler Class'
		{
			ProgID = s 'Tabro.AppEventHandler.1'
			VersionIndependentProgID = s 'Tabro.AppEventHandler'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{1867BCA3-EA1B-11D3-BA98-002018640C96}'
		}
	}
}
)";

const auto* bytesOf(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

const ResourceData kData[] = {
    {"TYPELIB", 1, bytesOf(kTypeLibrary), sizeof kTypeLibrary - 1},
    {"REGISTRY", 1016, bytesOf(kRegistryScript), sizeof kRegistryScript - 1},
    {"#16", 1, bytesOf(moduleVersionResource().data()), moduleVersionResource().size()},  // RT_VERSION
};

const ResourceTable kTable = {
    RESOURCE_TABLE_VERSION, sizeof(ResourceTable), nullptr, 0, kData, std::size(kData),
};

}  // namespace

const ResourceTable* comServerResources() { return &kTable; }

}  // namespace tabro
