#pragma once
// placeholder: filled in by its owner
