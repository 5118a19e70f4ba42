// The calls every backend answers alike from its way down.
#include "platform/core/place.h"

void ForgetPlaces(std::string_view as, std::string system) {
  TheWay().MovedTo(as, std::move(system));
}

const std::string& TopAsSystemNamesIt() { return TheWay().topText; }

const std::string& PlaceText() { return TheWay().Text(); }

void BeginDescent() {
  if (TheWay().NeedsTop()) MakeTop();
  TheWay().BeginAtTop();
}

bool NextSubdirectory(std::string& name) { return TheWay().NextSubdirectory(name); }
