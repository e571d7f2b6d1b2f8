// A resource module of today's table (version 2): strings, and data resources of
// several types, among them type library descriptions and registry scripts, some of
// them malformed on purpose.
#include "platform/Resources.h"

#include <iterator>

namespace {

const ResourceString kStrings[] = {
    {7, "seven, from a version 2 table"},
};

// The description the add-in holds, line for line.
constexpr char kTypeLibrary[] =
    "library TabroLib uuid {1867BCA3-EA1B-11D3-BA98-002018640C96} version 1.0 lcid 0x0409 "
    "helpstring \"Tabro 1.0 Type Library\"\n"
    "importlib stdole2.tlb\n"
    "interface IAppEventHandler uuid {BF62E004-EC31-11D3-BAA0-002018640C96} dual oleautomation base IDispatch "
    "helpstring \"IAppEventHandler Interface\"\n"
    "  method Enable id 1 helpstring \"method Enable\"\n"
    "  method Disable id 2 helpstring \"method Disable\"\n"
    "coclass AppEventHandler uuid {BF62E005-EC31-11D3-BAA0-002018640C96} helpstring \"AppEventHandler Class\" "
    "default IAppEventHandler\n";

// A second library under another number: no help string, a vtable interface (not
// registered under Interface) and members with arguments.
constexpr char kSecondLibrary[] = R"(library SecondLib uuid {6B29FC40-CA47-1067-B31D-00DD010662DA} version 2.10
interface ICounter uuid {6B29FC41-CA47-1067-B31D-00DD010662DA} base IUnknown
  method Add id 1 args 2
)";

constexpr char kBrokenLibrary[] = "library Broken uuid {not-a-guid} version 1.0\n";

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

// Writes a key, then breaks off inside its block: nothing may be written.
constexpr char kBrokenScript[] = "HKCR\n{\n\tTabro.Broken = s 'written?'\n\t{\n\t\tval X = q '1'\n";

constexpr unsigned char kRaw[] = {0x00, 0xFF, 0x10};

const unsigned char* bytesOf(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

const ResourceData kData[] = {
    {"TYPELIB", 1, bytesOf(kTypeLibrary), sizeof kTypeLibrary - 1},
    {"TYPELIB", 2, bytesOf(kSecondLibrary), sizeof kSecondLibrary - 1},
    {"TYPELIB", 3, bytesOf(kBrokenLibrary), sizeof kBrokenLibrary - 1},
    {"REGISTRY", 1016, bytesOf(kRegistryScript), sizeof kRegistryScript - 1},
    {"REGISTRY", 1017, bytesOf(kBrokenScript), sizeof kBrokenScript - 1},
    {"#10", 3, kRaw, sizeof kRaw},  // a numbered type, as RT_RCDATA is
    {"EMPTY", 5, nullptr, 0},
    {"BROKEN", 1, nullptr, 4},  // claims bytes it does not point to
};

const ResourceTable kTable = {RESOURCE_TABLE_VERSION, sizeof(ResourceTable), kStrings, std::size(kStrings), kData,
                              std::size(kData)};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceTable* ResourceModuleTable() { return &kTable; }
