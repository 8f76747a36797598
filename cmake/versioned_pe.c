/* The code of a versioned stand-in image: one exported constant, so the
   image has a section of its own besides the version resource. */
__declspec(dllexport) const char kVersionedStandIn[] = "stand-in";
