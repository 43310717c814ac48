#pragma once

class LayoutLoader;
class Runtime;

/// Registers every runtime control under the class name the layouts use, bound to the given runtime.
void registerRuntimeControls(LayoutLoader& loader, Runtime& runtime);
